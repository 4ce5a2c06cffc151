#include "platform/xls/Records.h"

#include <QtGlobal>
#include <cmath>
#include <stdexcept>

namespace xls {

namespace {

struct NamedId {
    uint16_t id;
    const char *name;
};

constexpr NamedId kNames[] = {
    {biff::rec::FORMULA, "FORMULA"},
    {biff::rec::EOF_, "EOF"},
    {biff::rec::HEADER, "HEADER"},
    {biff::rec::FOOTER, "FOOTER"},
    {biff::rec::EXTERNSHEET, "EXTERNSHEET"},
    {biff::rec::NAME, "NAME"},
    {biff::rec::VERTICALPAGEBREAKS, "VERTICALPAGEBREAKS"},
    {biff::rec::HORIZONTALPAGEBREAKS, "HORIZONTALPAGEBREAKS"},
    {biff::rec::NOTE, "NOTE"},
    {biff::rec::SELECTION, "SELECTION"},
    {biff::rec::DATEMODE, "DATEMODE"},
    {biff::rec::FILEPASS, "FILEPASS"},
    {biff::rec::FONT, "FONT"},
    {biff::rec::LEFTMARGIN, "LEFTMARGIN"},
    {biff::rec::RIGHTMARGIN, "RIGHTMARGIN"},
    {biff::rec::TOPMARGIN, "TOPMARGIN"},
    {biff::rec::BOTTOMMARGIN, "BOTTOMMARGIN"},
    {biff::rec::PRINTHEADERS, "PRINTHEADERS"},
    {biff::rec::PRINTGRIDLINES, "PRINTGRIDLINES"},
    {biff::rec::CONTINUE, "CONTINUE"},
    {biff::rec::CODEPAGE, "CODEPAGE"},
    {biff::rec::DEFCOLWIDTH, "DEFCOLWIDTH"},
    {biff::rec::OBJ, "OBJ"},
    {biff::rec::COLINFO, "COLINFO"},
    {biff::rec::WSBOOL, "WSBOOL"},
    {biff::rec::HCENTER, "HCENTER"},
    {biff::rec::VCENTER, "VCENTER"},
    {biff::rec::BOUNDSHEET, "BOUNDSHEET"},
    {biff::rec::PALETTE, "PALETTE"},
    {biff::rec::STANDARDWIDTH, "STANDARDWIDTH"},
    {biff::rec::SCL, "SCL"},
    {biff::rec::SETUP, "SETUP"},
    {biff::rec::MULRK, "MULRK"},
    {biff::rec::MULBLANK, "MULBLANK"},
    {biff::rec::DBCELL, "DBCELL"},
    {biff::rec::XF, "XF"},
    {biff::rec::MERGEDCELLS, "MERGEDCELLS"},
    {biff::rec::MSODRAWINGGROUP, "MSODRAWINGGROUP"},
    {biff::rec::MSODRAWING, "MSODRAWING"},
    {biff::rec::MSODRAWINGSELECTION, "MSODRAWINGSELECTION"},
    {biff::rec::SST, "SST"},
    {biff::rec::LABELSST, "LABELSST"},
    {biff::rec::EXTSST, "EXTSST"},
    {biff::rec::TXO, "TXO"},
    {biff::rec::DIMENSIONS, "DIMENSIONS"},
    {biff::rec::BLANK, "BLANK"},
    {biff::rec::NUMBER, "NUMBER"},
    {biff::rec::LABEL, "LABEL"},
    {biff::rec::BOOLERR, "BOOLERR"},
    {biff::rec::STRING, "STRING"},
    {biff::rec::ROW, "ROW"},
    {biff::rec::INDEX, "INDEX"},
    {biff::rec::ARRAY, "ARRAY"},
    {biff::rec::DEFAULTROWHEIGHT, "DEFAULTROWHEIGHT"},
    {biff::rec::TABLE, "TABLE"},
    {biff::rec::WINDOW2, "WINDOW2"},
    {biff::rec::RK, "RK"},
    {biff::rec::SUPBOOK, "SUPBOOK"},
    {biff::rec::FORMAT, "FORMAT"},
    {biff::rec::SHRFMLA, "SHRFMLA"},
    {biff::rec::BOF, "BOF"},
};

} // namespace

const char *recordName(uint16_t id)
{
    for (const NamedId &n : kNames)
        if (n.id == id)
            return n.name;
    return "unknown";
}

Result<Record> readRecord(ByteCursor &stream)
{
    const size_t at = stream.offset();
    uint16_t id = 0, len = 0;
    stream.readU16(id);
    stream.readU16(len);
    if (!stream.ok())
        return Error{QStringLiteral("record header at offset %1 runs past the end of the stream").arg(at)};
    // The u16 length already bounds the allocation at 64 KiB. We accept records longer than
    // the 8224 bytes BIFF8 allows because some writers produce them and real readers cope.
    std::span<const uint8_t> data;
    if (!stream.readBytes(len, data))
        return Error{QStringLiteral("%1 record at offset %2 declares %3 bytes but the stream ends first")
                         .arg(QLatin1String(recordName(id)))
                         .arg(at)
                         .arg(len)};
    return Record{id, std::vector<uint8_t>(data.begin(), data.end()), at};
}

// ---- ContinueReader ------------------------------------------------------------------

ContinueReader::ContinueReader(std::vector<std::span<const uint8_t>> segments) : m_segs(std::move(segments)) {}

ContinueReader::ContinueReader(const Record &head, std::span<const Record> continues)
{
    m_segs.reserve(continues.size() + 1);
    m_segs.emplace_back(head.data);
    for (const Record &r : continues)
        m_segs.emplace_back(r.data);
}

bool ContinueReader::fail()
{
    m_failed = true;
    return false;
}

bool ContinueReader::atEnd() const
{
    if (m_failed)
        return true;
    for (size_t s = m_seg; s < m_segs.size(); ++s)
        if ((s == m_seg ? m_segs[s].size() - m_off : m_segs[s].size()) > 0)
            return false;
    return true;
}

bool ContinueReader::nextSegmentIfExhausted()
{
    while (m_seg < m_segs.size() && m_off >= m_segs[m_seg].size()) {
        ++m_seg;
        m_off = 0;
    }
    return m_seg < m_segs.size();
}

bool ContinueReader::readBytes(uint8_t *dst, size_t n)
{
    if (m_failed)
        return false;
    while (n > 0) {
        if (!nextSegmentIfExhausted())
            return fail();
        const size_t take = std::min(n, m_segs[m_seg].size() - m_off);
        if (dst) {
            std::copy_n(m_segs[m_seg].data() + m_off, take, dst);
            dst += take;
        }
        m_off += take;
        n -= take;
    }
    return true;
}

bool ContinueReader::readU8(uint8_t &v)
{
    v = 0;
    return readBytes(&v, 1);
}

bool ContinueReader::readU16(uint16_t &v)
{
    uint8_t b[2] = {};
    v = 0;
    if (!readBytes(b, 2))
        return false;
    v = uint16_t(b[0] | b[1] << 8);
    return true;
}

bool ContinueReader::readU32(uint32_t &v)
{
    uint8_t b[4] = {};
    v = 0;
    if (!readBytes(b, 4))
        return false;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool ContinueReader::skip(size_t n) { return readBytes(nullptr, n); }

bool ContinueReader::readChars(uint32_t count, bool highByte, QString &out)
{
    if (m_failed)
        return false;
    out.reserve(out.size() + qsizetype(count));
    while (count > 0) {
        if (m_seg >= m_segs.size())
            return fail();
        if (m_off >= m_segs[m_seg].size()) {
            // Character data resumes in the next CONTINUE behind its own option byte.
            ++m_seg;
            m_off = 0;
            uint8_t options = 0;
            if (m_seg >= m_segs.size() || m_segs[m_seg].empty())
                return fail();
            options = m_segs[m_seg][0];
            m_off = 1;
            highByte = options & biff::str::kHighByte;
            continue;
        }
        const std::span<const uint8_t> seg = m_segs[m_seg];
        const size_t width = highByte ? 2 : 1;
        const size_t avail = (seg.size() - m_off) / width;
        if (avail == 0)
            return fail(); // half a UTF-16 unit before a boundary
        const size_t take = std::min<size_t>(count, avail);
        const uint8_t *p = seg.data() + m_off;
        for (size_t i = 0; i < take; ++i)
            out.append(highByte ? QChar(char16_t(p[2 * i] | p[2 * i + 1] << 8)) : QChar(char16_t(p[i])));
        m_off += take * width;
        count -= uint32_t(take);
    }
    return true;
}

bool ContinueReader::readRichString(QString &text, std::vector<uint8_t> &runs, std::vector<uint8_t> &phonetic)
{
    uint16_t cch = 0;
    uint8_t options = 0;
    uint16_t runCount = 0;
    uint32_t phoneticSize = 0;
    readU16(cch);
    readU8(options);
    if (options & biff::str::kRichSt)
        readU16(runCount);
    if (options & biff::str::kExtSt)
        readU32(phoneticSize);
    if (!ok())
        return false;
    text.clear();
    if (!readChars(cch, options & biff::str::kHighByte, text))
        return false;
    // Both blocks come from the file; the u16 run count bounds the first, and the second may
    // not exceed what is left of the record, so a forged size cannot make us allocate.
    runs.resize(size_t(runCount) * biff::str::kRunSize);
    if (!readBytes(runs.data(), runs.size()))
        return false;
    size_t left = 0;
    for (size_t s = m_seg; s < m_segs.size(); ++s)
        left += s == m_seg ? m_segs[s].size() - m_off : m_segs[s].size();
    if (phoneticSize > left)
        return fail();
    phonetic.resize(phoneticSize);
    return readBytes(phonetic.data(), phonetic.size());
}

// ---- ContinueWriter ------------------------------------------------------------------

ContinueWriter::ContinueWriter(uint16_t id) { m_records.push_back(Record{id, {}, 0}); }

void ContinueWriter::startContinue() { m_records.push_back(Record{biff::rec::CONTINUE, {}, 0}); }

void ContinueWriter::keepTogether(size_t n)
{
    Q_ASSERT(n <= biff::kMaxRecordData);
    if (room() < n)
        startContinue();
}

void ContinueWriter::u8(uint8_t v) { bytes({&v, 1}); }

void ContinueWriter::u16(uint16_t v)
{
    const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    bytes(b);
}

void ContinueWriter::u32(uint32_t v)
{
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    bytes(b);
}

void ContinueWriter::bytes(std::span<const uint8_t> b)
{
    while (!b.empty()) {
        if (room() == 0)
            startContinue();
        const size_t take = std::min(room(), b.size());
        auto &d = m_records.back().data;
        d.insert(d.end(), b.begin(), b.begin() + take);
        b = b.subspan(take);
    }
}

std::pair<size_t, size_t> ContinueWriter::richString(const QString &text, std::span<const uint8_t> runs, std::span<const uint8_t> phonetic)
{
    // Cells we write hold at most 32,767 characters; text read from a file may be longer (its
    // length field has 16 bits) and is written back as it came.
    Q_ASSERT(text.size() <= 0xFFFF);
    bool high = false;
    for (QChar c : text)
        high |= c.unicode() > 0xFF;
    uint8_t options = high ? biff::str::kHighByte : 0;
    if (!runs.empty())
        options |= biff::str::kRichSt;
    if (!phonetic.empty())
        options |= biff::str::kExtSt;
    const size_t header = 3 + (runs.empty() ? 0 : 2) + (phonetic.empty() ? 0 : 4);
    const size_t width = high ? 2 : 1;
    // The header and the first character stay together: a reader must never have to look for
    // an option byte before it has seen any characters.
    keepTogether(header + (text.isEmpty() ? 0 : width));
    const std::pair<size_t, size_t> at{recordIndex(), offsetInRecord()};
    u16(uint16_t(text.size()));
    u8(options);
    if (!runs.empty())
        u16(uint16_t(runs.size() / biff::str::kRunSize));
    if (!phonetic.empty())
        u32(uint32_t(phonetic.size()));

    qsizetype i = 0;
    while (i < text.size()) {
        if (room() < width) {
            startContinue();
            m_records.back().data.push_back(high ? biff::str::kHighByte : 0);
        }
        const qsizetype take = std::min<qsizetype>(text.size() - i, qsizetype(room() / width));
        auto &d = m_records.back().data;
        for (qsizetype k = 0; k < take; ++k) {
            const char16_t c = text[i + k].unicode();
            d.push_back(uint8_t(c));
            if (high)
                d.push_back(uint8_t(c >> 8));
        }
        i += take;
    }
    for (size_t r = 0; r < runs.size(); r += biff::str::kRunSize) {
        keepTogether(biff::str::kRunSize);
        bytes(runs.subspan(r, std::min(biff::str::kRunSize, runs.size() - r)));
    }
    bytes(phonetic);
    return at;
}

// ---- RecordBuilder / StreamWriter ----------------------------------------------------

RecordBuilder::RecordBuilder(uint16_t id, size_t declaredSize) : m_declared(declaredSize)
{
    m_rec.id = id;
    m_rec.data.reserve(declaredSize);
}

RecordBuilder &RecordBuilder::u8(uint8_t v)
{
    m_rec.data.push_back(v);
    return *this;
}
RecordBuilder &RecordBuilder::u16(uint16_t v)
{
    putU16(m_rec.data, v);
    return *this;
}
RecordBuilder &RecordBuilder::u32(uint32_t v)
{
    putU32(m_rec.data, v);
    return *this;
}
RecordBuilder &RecordBuilder::f64(double v)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof v);
    putU32(m_rec.data, uint32_t(bits));
    putU32(m_rec.data, uint32_t(bits >> 32));
    return *this;
}
RecordBuilder &RecordBuilder::bytes(std::span<const uint8_t> b)
{
    m_rec.data.insert(m_rec.data.end(), b.begin(), b.end());
    return *this;
}

Record RecordBuilder::finish()
{
    if (m_rec.data.size() != m_declared || m_declared > biff::kMaxRecordData)
        throw std::logic_error(std::string("record writer for ") + recordName(m_rec.id) + " wrote "
                               + std::to_string(m_rec.data.size()) + " bytes, declared "
                               + std::to_string(m_declared));
    return std::move(m_rec);
}

size_t StreamWriter::put(const Record &r) { return put(r.id, r.data); }

size_t StreamWriter::put(uint16_t id, std::span<const uint8_t> data)
{
    Q_ASSERT(data.size() <= 0xFFFF);
    const size_t at = m_out.size();
    putU16(m_out, id);
    putU16(m_out, uint16_t(data.size()));
    m_out.insert(m_out.end(), data.begin(), data.end());
    return at;
}

void StreamWriter::patchU32(size_t off, uint32_t v)
{
    Q_ASSERT(off + 4 <= m_out.size());
    for (int i = 0; i < 4; ++i)
        m_out[off + i] = uint8_t(v >> (8 * i));
}

void StreamWriter::patchU16(size_t off, uint16_t v)
{
    Q_ASSERT(off + 2 <= m_out.size());
    m_out[off] = uint8_t(v);
    m_out[off + 1] = uint8_t(v >> 8);
}

void putU16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void putU32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint16_t getU16(std::span<const uint8_t> d, size_t off) { return uint16_t(d[off] | d[off + 1] << 8); }

uint32_t getU32(std::span<const uint8_t> d, size_t off)
{
    return uint32_t(d[off]) | uint32_t(d[off + 1]) << 8 | uint32_t(d[off + 2]) << 16 | uint32_t(d[off + 3]) << 24;
}

// ---- RK ------------------------------------------------------------------------------

double decodeRk(uint32_t rk)
{
    double v = 0;
    if (rk & biff::cell::kRkInteger) {
        v = double(int32_t(rk) >> 2); // arithmetic shift keeps the sign of the 30-bit integer
    } else {
        const uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return (rk & biff::cell::kRkDiv100) ? v / 100 : v;
}

bool encodeRk(double v, uint32_t &rk)
{
    // Integers in 30 bits first: the commonest case in a list of item numbers.
    if (v == std::floor(v) && v >= -(1 << 29) && v < (1 << 29) && !(v == 0 && std::signbit(v))) {
        rk = (uint32_t(int32_t(v)) << 2) | biff::cell::kRkInteger;
        return decodeRk(rk) == v;
    }
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof v);
    if ((bits & 0x3FFFFFFFFull) == 0) { // RK keeps only the top 30 bits of the double
        rk = uint32_t(bits >> 32);
        return decodeRk(rk) == v;
    }
    const double h = v * 100;
    if (std::isfinite(h) && h == std::floor(h) && h >= -(1 << 29) && h < (1 << 29)) {
        rk = (uint32_t(int32_t(h)) << 2) | biff::cell::kRkInteger | biff::cell::kRkDiv100;
        if (decodeRk(rk) == v)
            return true;
    }
    return false;
}

std::vector<Record> readContinuation(ByteCursor &stream, bool (*companion)(uint16_t id))
{
    std::vector<Record> out;
    while (!stream.atEnd()) {
        ByteCursor peek = stream;
        Result<Record> next = readRecord(peek);
        if (!next || (next->id != biff::rec::CONTINUE && !(companion && companion(next->id))))
            break;
        out.push_back(std::move(*next));
        stream = peek;
    }
    return out;
}

size_t continuedEnd(std::span<const Record> records, size_t at)
{
    if (at >= records.size())
        return at;
    size_t i = at + 1;
    while (i < records.size() && records[i].id == biff::rec::CONTINUE)
        ++i;
    return i;
}

std::vector<uint8_t> continuedData(std::span<const Record> records, size_t at, size_t *next)
{
    std::vector<uint8_t> out;
    const size_t end = continuedEnd(records, at);
    for (size_t i = at; i < end; ++i)
        out.insert(out.end(), records[i].data.begin(), records[i].data.end());
    if (next)
        *next = end;
    return out;
}

} // namespace xls
