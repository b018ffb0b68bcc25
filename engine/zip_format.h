#pragma once
// The ZIP format as the engine and its tests read and write it, each constant named once: record
// signatures and sizes, the offsets of the fields read from them, general-purpose flags,
// compression methods and extra-field ids. Every field is little-endian; an offset counts from the
// record's signature.

#include <cstddef>
#include <cstdint>

namespace orvex::engine::zip {

// Signatures: "PK" and two bytes, as a little-endian 32-bit load reads them.
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralRecordSignature = 0x02014b50;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndRecordSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

// The fixed part of each record, before its name, extra field and comment.
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralRecordSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndRecordSize = 56;

// Fields of a local header.
constexpr std::size_t kLocalFlags = 6;
constexpr std::size_t kLocalMethod = 8;
constexpr std::size_t kLocalCrc = 14;
constexpr std::size_t kLocalCompressedSize = 18;
constexpr std::size_t kLocalUncompressedSize = 22;
constexpr std::size_t kLocalNameLength = 26;
constexpr std::size_t kLocalExtraLength = 28;

// Fields of a central directory record.
constexpr std::size_t kCentralVersionMadeBy = 4;  ///< the system in the high byte
constexpr std::size_t kCentralFlags = 8;
constexpr std::size_t kCentralMethod = 10;
constexpr std::size_t kCentralCrc = 16;
constexpr std::size_t kCentralCompressedSize = 20;
constexpr std::size_t kCentralUncompressedSize = 24;
constexpr std::size_t kCentralNameLength = 28;
constexpr std::size_t kCentralExtraLength = 30;
constexpr std::size_t kCentralCommentLength = 32;
constexpr std::size_t kCentralExternalAttributes = 38;
constexpr std::size_t kCentralLocalHeaderOffset = 42;

// Fields of the end record.
constexpr std::size_t kEndDisk = 4;
constexpr std::size_t kEndDirectoryDisk = 6;
constexpr std::size_t kEndEntriesOnDisk = 8;
constexpr std::size_t kEndEntries = 10;
constexpr std::size_t kEndDirectorySize = 12;
constexpr std::size_t kEndDirectoryOffset = 16;
constexpr std::size_t kEndCommentLength = 20;

// Fields of the ZIP64 end record locator.
constexpr std::size_t kLocatorRecordDisk = 4;
constexpr std::size_t kLocatorRecordOffset = 8;
constexpr std::size_t kLocatorDisks = 16;

// Fields of the ZIP64 end record.
constexpr std::size_t kZip64RecordSize = 4;  ///< the size of what follows this field
constexpr std::size_t kZip64VersionMadeBy = 12;
constexpr std::size_t kZip64VersionNeeded = 14;
constexpr std::size_t kZip64Disk = 16;
constexpr std::size_t kZip64DirectoryDisk = 20;
constexpr std::size_t kZip64EntriesOnDisk = 24;
constexpr std::size_t kZip64Entries = 32;
constexpr std::size_t kZip64DirectorySize = 40;
constexpr std::size_t kZip64DirectoryOffset = 48;
/// The version of the format that ZIP64 records need.
constexpr std::uint16_t kZip64Version = 45;
/// The most entries the end record counts; more are counted in the ZIP64 end record.
constexpr std::uint16_t kMostEndRecordEntries = 0xFFFE;

// The systems of "version made by" whose external attributes readers interpret: MS-DOS's in the
// low byte, Unix's mode in the high half.
constexpr std::uint8_t kSystemMsDos = 0;
constexpr std::uint8_t kSystemUnix = 3;
constexpr std::uint32_t kDosReadOnly = 0x01;
constexpr std::uint32_t kDosDirectory = 0x10;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixDirectory = 0040000;
constexpr std::uint32_t kUnixFile = 0100000;

// A 32-bit size or offset that stands for a value in the ZIP64 extra field.
constexpr std::uint32_t kUnknown32 = 0xFFFFFFFF;

// General-purpose flags.
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kFlagUtf8 = 0x0800;

// Compression methods.
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

// Extra-field ids.
constexpr std::uint16_t kZip64Field = 0x0001;
constexpr std::uint16_t kExtendedTimestampField = 0x5455;
constexpr std::uint16_t kUnicodePathField = 0x7075;
constexpr std::uint16_t kNtfsTimesField = 0x000a;
constexpr std::uint16_t kUnixOwnerField = 0x7875;

}  // namespace orvex::engine::zip
