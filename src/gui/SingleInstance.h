#pragma once

#include <QString>
#include <memory>

class QLockFile;

// The lock that says a window drives the programmer, taken in `folder`; nullptr when another
// running window holds it. The programmer can be opened by one program at a time: a second
// window would only stand over the first and fail to reach it. A lock left by a window that
// died is taken over.
std::unique_ptr<QLockFile> claimTheProgrammer(const QString& folder);
