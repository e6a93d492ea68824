// The sizes that bound commands and responses on the device road, in one place.
//
// A response passes up to three buffers, one per road:
//
//   kReadLength        4096  direct road: the length the vendor read asks the device for. The
//                            device sends the frame it holds and no more, so asking for a whole
//                            page never cuts a frame short and costs nothing.
//   kServerReadLength  1024  brokered road: what the key service reads for a client in one
//                            request; the answer (16 header bytes and the frame) goes back in the
//                            shared block, which is far larger.
//   kMaxResponse       2048  both roads: the longest response frame the send operation and the
//                            command layer keep; longer frames are refused as malformed.
//
// They differ because each belongs to a different party (the device transfer, the service's
// buffer, the library's answer records), and all are well above what a command brings back: the
// longest answers the commands ask for are a binary read of kMaxTransfer (500) bytes and a modulus
// or signature of the largest key (256 bytes); with secure messaging (padding and MAC) and the
// frame's length bytes and status word they stay far below 1024.
#pragma once
#include <stdint.h>

namespace uk {

constexpr uint32_t kReadLength = 4096;
constexpr uint32_t kServerReadLength = 1024;
constexpr uint32_t kMaxResponse = 2048;

// Command APDUs accepted by the send operation.
constexpr uint32_t kMinApdu = 5;
constexpr uint32_t kMaxApdu = 1000;
// Command data after secure messaging: 3 header bytes, padding up to 8, the MAC.
constexpr uint32_t kMaxWrappedData = kMaxApdu + 3 + 8 + 8;
// Request frame of the largest wrapped command.
constexpr uint32_t kMaxFrame = kMaxWrappedData + 12;

}  // namespace uk
