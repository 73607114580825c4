// The platform seam: everything the rest of Talvenook needs from the operating system.
//
// Each concern has its own header beside this one; posix/ and win32/ implement the same
// declarations and CMake picks one. Nothing outside platform/ includes a system header for
// these concerns or tests for the platform with the preprocessor.
#pragma once

#include "platform/DebugChannel.h"
#include "platform/ErrorBox.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "platform/MainWindow.h"
#include "platform/NativeFile.h"
#include "platform/ProgramFolder.h"
#include "platform/SingleInstance.h"
#include "platform/TextCodePage.h"
