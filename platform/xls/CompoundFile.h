#pragma once
// The container layer: an OLE2 compound document (structured storage) held in memory as a
// tree of storages and streams, read and written through libgsf on Linux
// (CompoundFile.cpp) and the system's structured storage on Windows (CompoundFile_win.cpp).
// A workbook file keeps its record stream in "Workbook"; every other stream and storage
// (document properties and the like) is carried through a load/save unchanged, class ids
// included.

#include "platform/xls/Result.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace xls {

struct StorageEntry {
    QByteArray name;                 // UTF-8, as libgsf names it ("\x05SummaryInformation")
    bool isStorage = false;
    std::vector<uint8_t> data;       // streams only
    std::vector<StorageEntry> children; // storages only
    std::array<uint8_t, 16> classId{};
};

class CompoundFile {
public:
    // Limits that keep a hostile file from making us allocate or recurse without bound.
    static constexpr int kMaxDepth = 16;
    static constexpr size_t kMaxEntries = 4096;
    static constexpr size_t kHeaderSize = 512;

    // Parses a compound document. Errors say what is wrong, without naming a file; the
    // workbook layer prefixes the file name.
    static Result<CompoundFile> parse(std::span<const uint8_t> bytes);
    // The whole document as bytes, ready to be written to disk.
    Result<std::vector<uint8_t>> serialize() const;

    StorageEntry &root() { return m_root; }
    const StorageEntry &root() const { return m_root; }
    // A stream directly under the root, matched case-insensitively as Excel does; null when absent.
    const StorageEntry *findStream(const QByteArray &name) const;
    StorageEntry &setStream(const QByteArray &name, std::vector<uint8_t> data);

private:
    StorageEntry m_root;
};

// The eight bytes every compound document starts with.
constexpr std::array<uint8_t, 8> kCompoundSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

} // namespace xls
