#pragma once

#include "device/Operations.h"

namespace tandra {

// The words of the operations that judge every socket, as the status log, the labels and the
// results have them.
inline constexpr Operations::Texts kProgramTexts{
    "Program Device", "Programming Device from Buffer....", "Programmed OK", "Not Programmed",
    "Programming Done...."};
inline constexpr Operations::Texts kBlankTexts{"Blank Check",
                                               "Checking to see if Device is erased....",
                                               "Is Blank", "Is Not Blank", "Blank Test Done...."};
inline constexpr Operations::Texts kVerifyTexts{"Verify Device", "Verifying Device to Buffer....",
                                                "Verified OK", "Didn't Verify",
                                                "Verify Test Done...."};
inline constexpr Operations::Texts kCompareTexts{
    "Program Compare", "Program Compare Device to Buffer....", "Can Be Programed",
    "Can`t Be Programed", "Program Compare Test Done...."};
inline constexpr const char* kMoveName = "Move Device #1";

// The texts of the operations that judge every socket; Move judges none.
inline const Operations::Texts* textsOf(Operation operation) {
  switch (operation) {
    case Operation::Program:
      return &kProgramTexts;
    case Operation::BlankCheck:
      return &kBlankTexts;
    case Operation::Verify:
      return &kVerifyTexts;
    case Operation::ProgramCompare:
      return &kCompareTexts;
    case Operation::Move:
      break;
  }
  return nullptr;
}

// The operation whose words `texts` are; Move for none.
inline Operation kindOf(const Operations::Texts* texts) {
  for (const Operation operation :
       {Operation::Program, Operation::BlankCheck, Operation::Verify, Operation::ProgramCompare}) {
    if (textsOf(operation) == texts) return operation;
  }
  return Operation::Move;
}

}  // namespace tandra
