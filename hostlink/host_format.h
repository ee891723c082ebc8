// The byte layouts Torvan shares with the host, written down once: the character table
// file, the request and reply frames, the socket layer's buffers and the host's numeric
// field forms. Every reader and writer of these layouts (the socket layer, the message
// exchange, the field decoder and encoder, the table generator, torvan-host) takes its
// constants from here.
//
// Character table file "TnC_TBL1.Tbl" (read at link start from the base folder):
//
//   offset  length  content
//   0       2       "T1": a Torvan character table, layout 1
//   2       2       host CCSID, big-endian (280: Italian EBCDIC)
//   4       2       PC code page, big-endian (1252: Windows Latin 1)
//   6       256     host-to-PC table: byte b is the PC code of host byte b
//
// Torvan reads only the 256 table bytes; the header tells a person (and the generator)
// what the table is for. The PC-to-host table is derived, never stored (char_table.h).
//
// Request frame, PC to host, sent translated to the host code:
//
//   position  length  content
//   1         1       request code (below)
//   2         5       length of the data part, decimal, leading zeros ("00020")
//   7         n       data part
//
// Reply frame, host to PC:
//
//   position  length  content
//   1         1       outcome: the host character of "0" when the request was served
//   2         5       length of the data part, zoned decimal (host digits F0..F9)
//   7         n       data part, at most kMaxReplyData bytes; fields addressed from 1
//
// Zoned decimal: one digit per byte in the low half-byte; the high half-byte of the last
// byte is the sign. Packed decimal: two digits per byte, the last half-byte is the sign.
// Signs B and D are negative; A, C, E and F positive (the host writes F and D).
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvan::hostlink {

// Character table file.
inline constexpr char kCharTableFileName[] = "TnC_TBL1.Tbl";
inline constexpr size_t kCharTableHeaderLength = 6;
inline constexpr size_t kCharTableLength = 256;
inline constexpr size_t kCharTableFileLength = kCharTableHeaderLength + kCharTableLength;
inline constexpr char kCharTableMagic[2] = {'T', '1'};
inline constexpr uint16_t kHostCcsidItalian = 280;
inline constexpr uint16_t kPcCodePageWindows1252 = 1252;

// Frames.
inline constexpr size_t kFrameHeaderLength = 6;
inline constexpr size_t kFrameLengthDigits = 5;
inline constexpr int32_t kMaxReplyData = 8192;     // the most one Sock_Read takes
inline constexpr int32_t kMaxRequestData = 99999;  // what five length digits can state
inline constexpr char kOutcomeServed = '0';

// Request codes.
inline constexpr char kRequestTime = 'P';         // time exchange: stop/restart times, clock
inline constexpr char kRequestRestartWait = 'T';  // restart-wait exchange: stopping now?
inline constexpr char kRequestChange = 'S';       // next queued change of a host file
inline constexpr char kRequestImage = 'I';        // one chunk of an image, raw bytes
inline constexpr char kRequestDatabases = '3';    // next entry of the database list
inline constexpr char kRequestFiles = '1';        // next entry of the file list
inline constexpr char kRequestFields = '2';       // next entry of a file's field list
inline constexpr char kRequestStatement = 'R';    // an SQL statement for the host
inline constexpr char kRequestCodes[] = {kRequestTime,   kRequestRestartWait, kRequestChange,
                                         kRequestImage,  kRequestDatabases,   kRequestFiles,
                                         kRequestFields, kRequestStatement};

// Socket layer buffers: one message part never exceeds half of them.
inline constexpr size_t kReceiveBufferSize = 16384;
inline constexpr size_t kMessageBufferSize = 16384;
static_assert(kReceiveBufferSize >= 2 * size_t(kMaxReplyData));

// Numeric field forms.
inline constexpr uint8_t kZoneDigit = 0xF0;           // high half-byte of an unsigned zoned digit
inline constexpr uint8_t kSignPositive = 0x0F;        // the sign half-byte the host writes for >= 0
inline constexpr uint8_t kSignNegative = 0x0D;        // the sign half-byte the host writes for < 0
inline constexpr uint8_t kFirstNonPackedByte = 0xA0;  // a packed byte's high half is a digit
inline constexpr char kNulCharacter = '\xD8';  // "Ø": how a text field shows a host NUL byte

// A sign half-byte (0..15) that makes a zoned or packed value negative.
constexpr bool IsNegativeSign(uint8_t half_byte) { return half_byte == 0x0B || half_byte == 0x0D; }

// The amount form read by Field_DecodeAmount: packed, 9 bytes, 17 digits, 3 decimals.
inline constexpr int32_t kAmountBytes = 9;
inline constexpr int32_t kAmountDigits = 17;
inline constexpr int32_t kAmountDecimals = 3;
inline constexpr size_t kAmountTextLength = 20;

}  // namespace torvan::hostlink
