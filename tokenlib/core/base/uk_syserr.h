// Windows system error values that portable code hands on where the real stack would give the
// same ones: the brokered channel's server in its result word, the virtual device bus for the
// conditions of a real device.
#pragma once
#include <stdint.h>

namespace uk {

constexpr uint32_t kErrFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
constexpr uint32_t kErrTooManyOpen = 4;           // ERROR_TOO_MANY_OPEN_FILES
constexpr uint32_t kErrAccessDenied = 5;          // ERROR_ACCESS_DENIED
constexpr uint32_t kErrInvalidHandle = 6;         // ERROR_INVALID_HANDLE
constexpr uint32_t kErrNotReady = 21;             // ERROR_NOT_READY
constexpr uint32_t kErrGenFailure = 31;           // ERROR_GEN_FAILURE
constexpr uint32_t kErrInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
constexpr uint32_t kErrInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
constexpr uint32_t kErrPathTooLong = 206;         // ERROR_FILENAME_EXCED_RANGE
constexpr uint32_t kErrMoreData = 234;            // ERROR_MORE_DATA
constexpr uint32_t kErrIoDevice = 1117;           // ERROR_IO_DEVICE
constexpr uint32_t kErrNotConnected = 1167;       // ERROR_DEVICE_NOT_CONNECTED

}  // namespace uk
