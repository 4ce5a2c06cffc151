#pragma once
// Bounds-checked reading of little-endian file data. Every read reports failure instead of
// running past the end; once a read fails the cursor stays failed, so a record reader can
// read all its fields and check ok() once before it trusts any of them.

#include <cstdint>
#include <cstring>
#include <span>

namespace xls {

class ByteCursor {
public:
    ByteCursor() = default;
    explicit ByteCursor(std::span<const uint8_t> data) : m_data(data.data()), m_len(data.size()) {}

    bool ok() const { return !m_failed; }
    size_t offset() const { return m_off; }
    size_t size() const { return m_len; }
    size_t remaining() const { return m_failed ? 0 : m_len - m_off; }
    bool atEnd() const { return remaining() == 0; }

    // Written as `len < n || off > len - n` so that no sum can wrap.
    bool has(size_t n) const { return !m_failed && !(m_len < n || m_off > m_len - n); }

    bool skip(size_t n)
    {
        if (!has(n))
            return fail();
        m_off += n;
        return true;
    }
    bool seek(size_t off)
    {
        if (m_failed || off > m_len)
            return fail();
        m_off = off;
        return true;
    }
    bool readU8(uint8_t &v) { return readLE(v); }
    bool readU16(uint16_t &v) { return readLE(v); }
    bool readU32(uint32_t &v) { return readLE(v); }
    bool readDouble(double &v)
    {
        uint64_t bits = 0;
        if (!readLE(bits))
            return false;
        std::memcpy(&v, &bits, sizeof v);
        return true;
    }
    // A view of the next n bytes, valid as long as the underlying data.
    bool readBytes(size_t n, std::span<const uint8_t> &out)
    {
        if (!has(n))
            return fail();
        out = {m_data + m_off, n};
        m_off += n;
        return true;
    }
    std::span<const uint8_t> rest() const
    {
        return m_failed ? std::span<const uint8_t>{} : std::span<const uint8_t>{m_data + m_off, m_len - m_off};
    }

private:
    template<class T>
    bool readLE(T &v)
    {
        v = 0;
        if (!has(sizeof(T)))
            return fail();
        T r = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            r = T(r | T(T(m_data[m_off + i]) << (8 * i)));
        v = r;
        m_off += sizeof(T);
        return true;
    }
    bool fail()
    {
        m_failed = true;
        return false;
    }

    const uint8_t *m_data = nullptr;
    size_t m_len = 0;
    size_t m_off = 0;
    bool m_failed = false;
};

} // namespace xls
