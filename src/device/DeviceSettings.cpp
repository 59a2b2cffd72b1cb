#include "device/DeviceSettings.h"

namespace tandra {

VppLevel vppLevel(int vppSetting) {
  switch (vppSetting) {
    case 1:
      return {"25", 0x0F, 0xB0};
    case 2:
      return {"21", 0x1F, 0xB0};
    case 3:
      return {"12.5", 0xBF, 0xB0};
    case 4:
      return {"12", 0x3F, 0x30};
    case 5:
      return {"5", 0x3F, 0x30};
    default:
      return {nullptr, 0x3F, 0x30};
  }
}

}  // namespace tandra
