#pragma once
// The record layer: the workbook stream as a sequence of (id, data) records.
//
// - readRecord() takes one record off a cursor, with its bounds checked.
// - readContinuation() and continuedEnd() gather the CONTINUE records behind a record, from
//   the stream or from a kept list; no reader looks for CONTINUE records on its own.
// - ContinueReader reads one logical record that CONTINUE records extend; it is the only
//   place that knows how character data resumes after a record boundary.
// - ContinueWriter is its mirror and the only place that splits data into CONTINUE records.
// - StreamWriter lays records out in file order and patches stream offsets afterwards.
//
// This layer knows record framing and string encoding; it does not know what a cell is.

#include "platform/xls/BiffFormat.h"
#include "platform/xls/ByteCursor.h"
#include "platform/xls/Result.h"

#include <QString>
#include <cstdint>
#include <span>
#include <vector>

namespace xls {

struct Record {
    uint16_t id = 0;
    std::vector<uint8_t> data;
    // Stream offset of the record header when it was read; not used when writing.
    size_t offset = 0;
};

// The name of a record id for error messages and dumps; "unknown" for ids we do not list.
const char *recordName(uint16_t id);

// Reads the record at the cursor. A header or data that runs past the stream end is an error
// naming the offset.
Result<Record> readRecord(ByteCursor &stream);

// Gathering what continues a record happens here and nowhere else, in the two places a
// record can be: still in the stream, or already kept in a list.
//
// Reads the records right behind the one just taken off the stream that belong to it: its
// CONTINUE records and, where `companion` accepts the id, records that travel with it (a
// formula's SHRFMLA, ARRAY, TABLE and STRING). Stops before the first record that does not
// belong or does not frame, which is then read again as a record of its own.
std::vector<Record> readContinuation(ByteCursor &stream, bool (*companion)(uint16_t id) = nullptr);

// The index just past records[at] and the CONTINUE records right behind it.
size_t continuedEnd(std::span<const Record> records, size_t at);

// The data of records[at] and of the CONTINUE records right behind it, joined: one logical
// record as the file split it. The index after them goes to *next when asked.
std::vector<uint8_t> continuedData(std::span<const Record> records, size_t at, size_t *next = nullptr);

// Reads a record that CONTINUE records may extend: fields cross boundaries transparently,
// and character data that crosses one picks up the option byte that starts the CONTINUE
// (so one string may change between 8-bit and 16-bit characters halfway).
class ContinueReader {
public:
    explicit ContinueReader(std::vector<std::span<const uint8_t>> segments);
    // A record and the CONTINUE records gathered behind it.
    ContinueReader(const Record &head, std::span<const Record> continues);

    bool ok() const { return !m_failed; }
    bool atEnd() const;
    bool readU8(uint8_t &v);
    bool readU16(uint16_t &v);
    bool readU32(uint32_t &v);
    bool skip(size_t n);
    // count characters, starting with the given width; appends to out.
    bool readChars(uint32_t count, bool highByte, QString &out);
    // An XLUnicodeRichExtendedString (SST entry): header, characters, runs, phonetic block.
    // The runs and the phonetic block are returned raw so they can be written back unchanged.
    bool readRichString(QString &text, std::vector<uint8_t> &runs, std::vector<uint8_t> &phonetic);
    // Which segment and offset the next byte comes from.
    size_t segment() const { return m_seg; }
    size_t offsetInSegment() const { return m_off; }

private:
    bool nextSegmentIfExhausted();
    bool readBytes(uint8_t *dst, size_t n);
    bool fail();

    std::vector<std::span<const uint8_t>> m_segs;
    size_t m_seg = 0;
    size_t m_off = 0;
    bool m_failed = false;
};

// Builds one logical record and splits it into the record and CONTINUE records of at most
// kMaxRecordData bytes each.
class ContinueWriter {
public:
    explicit ContinueWriter(uint16_t id);

    // Makes sure the next n bytes start in a record with room for all of them.
    void keepTogether(size_t n);
    void u8(uint8_t v);
    void u16(uint16_t v);
    void u32(uint32_t v);
    void bytes(std::span<const uint8_t> b);
    // Header, characters, runs and phonetic block of an SST entry. The header never splits;
    // characters continue after a boundary behind a fresh option byte. Returns where the
    // header landed: (record index, offset in that record's data).
    std::pair<size_t, size_t> richString(const QString &text, std::span<const uint8_t> runs, std::span<const uint8_t> phonetic);

    size_t recordIndex() const { return m_records.size() - 1; }
    size_t offsetInRecord() const { return m_records.back().data.size(); }
    std::vector<Record> finish() { return std::move(m_records); }

private:
    size_t room() const { return biff::kMaxRecordData - m_records.back().data.size(); }
    void startContinue();

    std::vector<Record> m_records;
};

// Fixed-layout record data: each writer declares the size first and the finish checks it,
// so a field added in one place and forgotten in the other shows up at once.
class RecordBuilder {
public:
    RecordBuilder(uint16_t id, size_t declaredSize);
    RecordBuilder &u8(uint8_t v);
    RecordBuilder &u16(uint16_t v);
    RecordBuilder &u32(uint32_t v);
    RecordBuilder &f64(double v);
    RecordBuilder &bytes(std::span<const uint8_t> b);
    Record finish();

private:
    Record m_rec;
    size_t m_declared;
};

// The output stream: records appended in file order, offsets patched once known.
class StreamWriter {
public:
    size_t position() const { return m_out.size(); }
    // Appends a record; returns the stream offset of its header.
    size_t put(const Record &r);
    size_t put(uint16_t id, std::span<const uint8_t> data);
    void patchU32(size_t streamOffset, uint32_t v);
    void patchU16(size_t streamOffset, uint16_t v);
    std::vector<uint8_t> &bytes() { return m_out; }

private:
    std::vector<uint8_t> m_out;
};

void putU16(std::vector<uint8_t> &out, uint16_t v);
void putU32(std::vector<uint8_t> &out, uint32_t v);
uint16_t getU16(std::span<const uint8_t> d, size_t off); // caller has checked the size
uint32_t getU32(std::span<const uint8_t> d, size_t off);

// RK number encoding: 30 significant bits of a double or an integer, optionally /100.
double decodeRk(uint32_t rk);
// The RK that decodes to exactly v, when there is one.
bool encodeRk(double v, uint32_t &rk);

} // namespace xls
