#include "link/Host.h"

#include <array>

namespace tandra {

std::string_view controlName(Control control) {
  static constexpr std::array<std::string_view, 25> kNames{
      "Memo1",    "StaticText2", "StaticText3", "StaticText4",    "Quit_Func_But",
      "Device_1", "Device_2",    "Device_3",    "Device_4",       "Device_5",
      "Device",   "Vpp_But",     "Pulse",       "P_Edit",         "Chk_Sum_But",
      "End_Add",  "File_But",    "Device_Box",  "Num_Of_Devices", "File_Type",
      "FillBox",  "FillEdit",    "Edit_1",      "Chg_Edit_Add",   "Progress"};
  return kNames[static_cast<std::size_t>(control)];
}

}  // namespace tandra
