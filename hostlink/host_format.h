// The byte layouts Torvan shares with the host, written down once: the character table
// file, the request and reply frames, the socket layer's buffers and the host's numeric
// field forms. Every reader and writer of these layouts (the socket layer, the message
// exchange, the field decoder and encoder, the table generator, torvan-host) takes its
// constants from here.
//
// Character table file "TnC_TBL1.Tbl" (read at link start from the base folder):
//
//   offset  length  content
//   0       6       header, not used: any six bytes (a table file of another origin
//                   carries its own); Torvan's generator writes "T1", the host CCSID
//                   and the PC code page, big-endian (280, 1252)
//   6       256     host-to-PC table: byte b is the PC code of host byte b
//
// The PC-to-host table is derived, never stored (char_table.h). A file is a character
// table only when all of this holds (checked when it is loaded, CheckCharTableFile):
//   - it is exactly 262 bytes long;
//   - host bytes F0..F9 and PC digits "0".."9" map to each other both ways: the frames'
//     zoned length digits and the outcome "0" are those bytes on every EBCDIC host;
//   - the letters A-Z and a-z, the blank and "§" come back unchanged from a trip to the
//     host and back (some host byte maps to each of them): request codes, names, flags
//     and the reserved index field "§_T_IDX___" are made of them.
// Every other PC code that a host byte maps to comes back unchanged too, by the way the
// PC-to-host table is derived; codes no host byte maps to go to the host as byte 0. The
// shipped table (IBM280 against CP1252, tools/char_table_gen.h) maps all 256 bytes one
// to one.
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
// The header Torvan's generator writes; readers never look at it.
inline constexpr char kCharTableMagic[2] = {'T', '1'};
inline constexpr size_t kCharTableHostCcsidOffset = 2;   // big-endian
inline constexpr size_t kCharTablePcCodePageOffset = 4;  // big-endian
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

// A field of a reply's data part: 1-based position and length in bytes.
struct FieldPos {
  int32_t pos;
  int32_t len;
  constexpr int32_t end() const { return pos + len; }  // the position after the field
};

// The data of a served P reply (time exchange): the host's stop and restart times
// (yyyymmddhhnnss) and its clock (yyyymmddhhnnssmmm). A served T reply carries the
// "stopping now" flag ("S") at position 1 and the clock at the same place.
namespace time_reply {
inline constexpr FieldPos kStopTime{1, 14};
inline constexpr FieldPos kRestartTime{15, 14};
inline constexpr FieldPos kStoppingFlag{1, 1};  // T
inline constexpr FieldPos kHostClock{29, 17};
inline constexpr int32_t kLength = 45;
static_assert(kStopTime.end() == kRestartTime.pos && kRestartTime.end() == kHostClock.pos);
static_assert(kHostClock.end() == kLength + 1);
}  // namespace time_reply

// The request data of P and T: the PC's local time yyyymmddhhnnss, milliseconds "mmm", "000".
inline constexpr int32_t kTimeRequestLength = 20;

// The host change record: the data of a served S reply.
//
//   position  length  type  content
//   1         4       B     offset of the before image within the image area
//   5         4       B     offset of the after image within the image area
//   9         8             not read by the PC (torvan-host: the change's sequence number)
//   17        4       B     relative record number (RRN) in the host file
//   21        10      A     host file name
//   31        10      A     host library name
//   41        14      A     a text kept with the change (torvan-host: when it was made)
//   55        1       A     change code: "1" added, "2" deleted, "3" updated, "4" cleared
//   56        3             not read by the PC
//   59        rest          image area: before and after images, each in the file's layout
//
// The byte of a field at record position p (1-based) lies at data position
// kImageBase + offset + p of the image that starts at `offset`.
namespace change_record {
inline constexpr FieldPos kBeforeOffset{1, 4};
inline constexpr FieldPos kAfterOffset{5, 4};
inline constexpr FieldPos kUnread1{9, 8};
inline constexpr FieldPos kRrn{17, 4};
inline constexpr FieldPos kFile{21, 10};
inline constexpr FieldPos kLibrary{31, 10};
inline constexpr FieldPos kText14{41, 14};
inline constexpr FieldPos kCode{55, 1};
inline constexpr FieldPos kUnread2{56, 3};
inline constexpr int32_t kHeaderLength = 58;
inline constexpr int32_t kImageBase = 58;
inline constexpr char kAdded = '1';
inline constexpr char kDeleted = '2';
inline constexpr char kUpdated = '3';
inline constexpr char kCleared = '4';
static_assert(kBeforeOffset.end() == kAfterOffset.pos && kAfterOffset.end() == kUnread1.pos);
static_assert(kUnread1.end() == kRrn.pos && kRrn.end() == kFile.pos);
static_assert(kFile.end() == kLibrary.pos && kLibrary.end() == kText14.pos);
static_assert(kText14.end() == kCode.pos && kCode.end() == kUnread2.pos);
static_assert(kUnread2.end() == kHeaderLength + 1 && kImageBase == kHeaderLength);
// The widest record whose two images fit one reply.
inline constexpr int32_t kMaxRecordLength = (kMaxReplyData - kHeaderLength) / 2;
}  // namespace change_record

// The request data of I: image key (10, blank-padded), "1", part and chunk (5 digits each).
namespace image_request {
inline constexpr FieldPos kKey{1, 10};
inline constexpr FieldPos kConstant{11, 1};
inline constexpr FieldPos kPart{12, 5};
inline constexpr FieldPos kChunk{17, 5};
inline constexpr int32_t kLength = 21;
static_assert(kKey.end() == kConstant.pos && kConstant.end() == kPart.pos);
static_assert(kPart.end() == kChunk.pos && kChunk.end() == kLength + 1);
}  // namespace image_request

// Catalogue list entries (requests "3", "1", "2"): position 1 is a blank for an entry to
// be stored; any other character marks an entry the PC skips.
inline constexpr FieldPos kEntryMark{1, 1};

// Request "3": one database of the catalogue. All text (A).
namespace database_entry {
inline constexpr FieldPos kName{2, 20};
inline constexpr FieldPos kDescription{22, 50};  // not stored by the PC
inline constexpr FieldPos kServer{72, 20};
inline constexpr FieldPos kAddress{92, 16};
inline constexpr FieldPos kUser{108, 20};
inline constexpr FieldPos kPassword{128, 20};  // clear; the PC scrambles it
inline constexpr FieldPos kFolder{148, 50};
inline constexpr int32_t kLength = 197;
static_assert(kEntryMark.end() == kName.pos && kName.end() == kDescription.pos);
static_assert(kDescription.end() == kServer.pos && kServer.end() == kAddress.pos);
static_assert(kAddress.end() == kUser.pos && kUser.end() == kPassword.pos);
static_assert(kPassword.end() == kFolder.pos && kFolder.end() == kLength + 1);
}  // namespace database_entry

// Request "1": one replicated host file. All text (A).
namespace file_entry {
inline constexpr FieldPos kLibrary{2, 10};
inline constexpr FieldPos kFile{12, 10};
inline constexpr FieldPos kText{22, 50};
inline constexpr FieldPos kTriggerLibrary{72, 10};
inline constexpr FieldPos kTrigger{82, 10};
inline constexpr FieldPos kAsPc{92, 1};
inline constexpr FieldPos kPcAs{93, 1};
inline constexpr FieldPos kAcq{94, 1};
inline constexpr FieldPos kDatabase{95, 20};
inline constexpr FieldPos kFilterLibrary{115, 10};
inline constexpr FieldPos kFilter{125, 10};
inline constexpr int32_t kLength = 134;
static_assert(kEntryMark.end() == kLibrary.pos && kLibrary.end() == kFile.pos);
static_assert(kFile.end() == kText.pos && kText.end() == kTriggerLibrary.pos);
static_assert(kTriggerLibrary.end() == kTrigger.pos && kTrigger.end() == kAsPc.pos);
static_assert(kAsPc.end() == kPcAs.pos && kPcAs.end() == kAcq.pos && kAcq.end() == kDatabase.pos);
static_assert(kDatabase.end() == kFilterLibrary.pos && kFilterLibrary.end() == kFilter.pos);
static_assert(kFilter.end() == kLength + 1);
}  // namespace file_entry

// Request "2": one field of a file. The request data is the flag ("S" first, then "N"),
// the library (10) and the file (10).
namespace field_request {
inline constexpr FieldPos kFlag{1, 1};
inline constexpr FieldPos kLibrary{2, 10};
inline constexpr FieldPos kFile{12, 10};
inline constexpr int32_t kLength = 21;
static_assert(kFlag.end() == kLibrary.pos && kLibrary.end() == kFile.pos);
static_assert(kFile.end() == kLength + 1);
}  // namespace field_request

// The reply to request "2": one field entry. Positions 2-21 are not stored and not looked
// at: a host may put the library and file there, in either order, or leave them blank.
namespace field_entry {
inline constexpr FieldPos kNotStored{2, 20};
inline constexpr FieldPos kName{22, 10};
inline constexpr FieldPos kText{32, 50};
inline constexpr FieldPos kType{82, 1};
// Packed, 5 digits, 0 decimals.
inline constexpr FieldPos kDigits{83, 3};
inline constexpr FieldPos kDecimals{86, 3};
inline constexpr FieldPos kPosition{89, 3};
inline constexpr FieldPos kBytes{92, 3};
inline constexpr int32_t kPackedDigits = 5;
inline constexpr FieldPos kExcluded{95, 1};
inline constexpr int32_t kLength = 95;
static_assert(kEntryMark.end() == kNotStored.pos && kNotStored.end() == kName.pos);
static_assert(kName.end() == kText.pos && kText.end() == kType.pos);
static_assert(kType.end() == kDigits.pos && kDigits.end() == kDecimals.pos);
static_assert(kDecimals.end() == kPosition.pos && kPosition.end() == kBytes.pos);
static_assert(kBytes.end() == kExcluded.pos && kExcluded.end() == kLength + 1);
}  // namespace field_entry

// The data of a served R reply: the statement's status at position 1, a blank when the
// host executed the statement, any other character when it did not. Which character is
// the host's own: Torvan reads only whether it is a blank. A request the host could not
// take at all (outcome not "0") was not executed either, and is sent again.
namespace statement_status {
inline constexpr FieldPos kStatus{1, 1};
inline constexpr char kExecuted = ' ';
}  // namespace statement_status

// The image archive file and its record layout (positions within the host record).
namespace image_archive {
inline constexpr char kFileName[] = "TNP_ARC_0F";
inline constexpr FieldPos kState{1, 1};  // " ": the record carries an image to fetch
inline constexpr FieldPos kKey{2, 10};
inline constexpr FieldPos kParts{12, 5};  // zoned
inline constexpr FieldPos kType{110, 1};
}  // namespace image_archive

}  // namespace torvan::hostlink
