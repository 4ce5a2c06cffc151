// The compound document on Windows: read and written through the system's structured
// storage (ole32), the same implementation the spreadsheet application itself uses, over
// an in-memory ILockBytes so no file is touched. The limits and the wording of the errors
// are those of the Linux reader over libgsf (CompoundFile.cpp).

#include "platform/xls/CompoundFile.h"

#include <algorithm>
#include <cstring>

#include <objbase.h>
#include <ole2.h>

namespace xls {

namespace {

// Releases a COM interface when it goes out of scope.
template<class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ~ComPtr()
    {
        if (m_p)
            m_p->Release();
    }
    T **out() { return &m_p; }
    T *operator->() const { return m_p; }
    T *get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T *m_p = nullptr;
};

QString describe(HRESULT hr)
{
    switch (hr) {
    case STG_E_FILEALREADYEXISTS:
    case STG_E_INVALIDHEADER:
        return QStringLiteral("unreadable header");
    case STG_E_DOCFILECORRUPT:
        return QStringLiteral("the directory or a sector chain is broken");
    case STG_E_INVALIDNAME:
        return QStringLiteral("an invalid name");
    case STG_E_INSUFFICIENTMEMORY:
    case E_OUTOFMEMORY:
        return QStringLiteral("not enough memory");
    default:
        return QStringLiteral("structured storage error 0x%1").arg(quint32(hr), 8, 16, QLatin1Char('0'));
    }
}

std::array<uint8_t, 16> classIdBytes(const CLSID &id)
{
    std::array<uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), &id, bytes.size());
    return bytes;
}

CLSID classIdOf(const std::array<uint8_t, 16> &bytes)
{
    CLSID id{};
    std::memcpy(&id, bytes.data(), bytes.size());
    return id;
}

QByteArray nameOf(const wchar_t *name) { return QString::fromWCharArray(name).toUtf8(); }
std::wstring wideName(const QByteArray &name) { return QString::fromUtf8(name).toStdWString(); }

struct ReadBudget {
    size_t fileSize;
    size_t bytesLeft = fileSize;
    size_t entriesLeft = CompoundFile::kMaxEntries;
};

// Frees the name the enumerator allocated for an entry.
struct StatName {
    STATSTG stat{};
    ~StatName()
    {
        if (stat.pwcsName)
            ::CoTaskMemFree(stat.pwcsName);
    }
};

Status readStream(IStorage *storage, const wchar_t *name, StorageEntry &e, ULONGLONG declared, ReadBudget &budget)
{
    if (declared > budget.bytesLeft)
        return Error{QStringLiteral("stream \"%1\" declares %2 bytes, more than the file can hold")
                         .arg(QString::fromUtf8(e.name))
                         .arg(qint64(declared))};
    budget.bytesLeft -= size_t(declared);
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.out());
    if (FAILED(hr))
        return Error{QStringLiteral("stream \"%1\" cannot be opened (%2)").arg(QString::fromUtf8(e.name), describe(hr))};
    e.data.resize(size_t(declared));
    size_t done = 0;
    while (done < e.data.size()) {
        ULONG got = 0;
        const ULONG want = ULONG(std::min<size_t>(e.data.size() - done, size_t(1) << 30));
        hr = stream->Read(e.data.data() + done, want, &got);
        if (FAILED(hr) || got == 0)
            return Error{QStringLiteral("stream \"%1\" cannot be read: its sector chain is broken (%2)")
                             .arg(QString::fromUtf8(e.name), FAILED(hr) ? describe(hr) : QStringLiteral("it ends early"))};
        done += got;
    }
    return {};
}

Status readStorage(IStorage *storage, StorageEntry &into, int depth, ReadBudget &budget)
{
    if (depth > CompoundFile::kMaxDepth)
        return Error{QStringLiteral("the compound document nests storages deeper than %1 levels").arg(CompoundFile::kMaxDepth)};
    STATSTG self{};
    if (SUCCEEDED(storage->Stat(&self, STATFLAG_NONAME)))
        into.classId = classIdBytes(self.clsid);
    ComPtr<IEnumSTATSTG> entries;
    HRESULT hr = storage->EnumElements(0, nullptr, 0, entries.out());
    if (FAILED(hr))
        return Error{QStringLiteral("the compound document is damaged: its directory cannot be listed (%1)").arg(describe(hr))};
    for (int i = 0;; ++i) {
        StatName entry;
        ULONG fetched = 0;
        hr = entries->Next(1, &entry.stat, &fetched);
        if (hr == S_FALSE || fetched == 0)
            break;
        if (FAILED(hr))
            return Error{QStringLiteral("directory entry %1 of the compound document cannot be opened (%2)").arg(i).arg(describe(hr))};
        if (budget.entriesLeft-- == 0)
            return Error{QStringLiteral("the compound document has more than %1 entries").arg(CompoundFile::kMaxEntries)};
        StorageEntry e;
        e.name = nameOf(entry.stat.pwcsName);
        if (entry.stat.type == STGTY_STORAGE) {
            e.isStorage = true;
            ComPtr<IStorage> child;
            hr = storage->OpenStorage(entry.stat.pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, child.out());
            if (FAILED(hr))
                return Error{QStringLiteral("directory entry %1 of the compound document cannot be opened (%2)").arg(i).arg(describe(hr))};
            if (Status s = readStorage(child.get(), e, depth + 1, budget); !s)
                return s;
        } else if (entry.stat.type == STGTY_STREAM) {
            // A stream larger than the whole file is a damaged entry, and libgsf leaves such
            // an entry out of the directory: so here, and the file reads the same on both.
            if (entry.stat.cbSize.QuadPart > budget.fileSize)
                continue;
            if (Status s = readStream(storage, entry.stat.pwcsName, e, entry.stat.cbSize.QuadPart, budget); !s)
                return s;
        } else {
            continue; // property sets and lock bytes have no place in a workbook; not ours to keep
        }
        into.children.push_back(std::move(e));
    }
    return {};
}

Status writeStorage(IStorage *storage, const StorageEntry &from)
{
    for (const StorageEntry &e : from.children) {
        const std::wstring name = wideName(e.name);
        const QString shown = QString::fromUtf8(e.name);
        HRESULT hr = S_OK;
        if (e.isStorage) {
            ComPtr<IStorage> child;
            hr = storage->CreateStorage(name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, child.out());
            if (FAILED(hr))
                return Error{QStringLiteral("cannot create \"%1\" in the compound document (%2)").arg(shown, describe(hr))};
            const CLSID id = classIdOf(e.classId);
            if (FAILED(hr = child->SetClass(id)))
                return Error{QStringLiteral("cannot write \"%1\" into the compound document (%2)").arg(shown, describe(hr))};
            if (Status s = writeStorage(child.get(), e); !s)
                return s;
            hr = child->Commit(STGC_DEFAULT);
        } else {
            ComPtr<IStream> stream;
            hr = storage->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.out());
            if (FAILED(hr))
                return Error{QStringLiteral("cannot create \"%1\" in the compound document (%2)").arg(shown, describe(hr))};
            size_t done = 0;
            while (SUCCEEDED(hr) && done < e.data.size()) {
                ULONG written = 0;
                const ULONG want = ULONG(std::min<size_t>(e.data.size() - done, size_t(1) << 30));
                hr = stream->Write(e.data.data() + done, want, &written);
                if (SUCCEEDED(hr) && written == 0)
                    hr = STG_E_MEDIUMFULL;
                done += written;
            }
        }
        if (FAILED(hr))
            return Error{QStringLiteral("cannot write \"%1\" into the compound document (%2)").arg(shown, describe(hr))};
    }
    return {};
}

// The bytes an ILockBytes on global memory holds.
Result<std::vector<uint8_t>> bytesOf(ILockBytes *lockBytes)
{
    STATSTG stat{};
    HGLOBAL global = nullptr;
    if (FAILED(lockBytes->Stat(&stat, STATFLAG_NONAME)) || FAILED(::GetHGlobalFromILockBytes(lockBytes, &global)))
        return Error{QStringLiteral("the compound document came out empty")};
    const size_t size = size_t(stat.cbSize.QuadPart);
    const void *data = ::GlobalLock(global);
    if (!data || size == 0) {
        if (data)
            ::GlobalUnlock(global);
        return Error{QStringLiteral("the compound document came out empty")};
    }
    std::vector<uint8_t> bytes(static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
    ::GlobalUnlock(global);
    return bytes;
}

} // namespace

Result<CompoundFile> CompoundFile::parse(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return Error{QStringLiteral("the file is empty")};
    if (bytes.size() < kCompoundSignature.size()
        || !std::equal(kCompoundSignature.begin(), kCompoundSignature.end(), bytes.begin()))
        return Error{QStringLiteral("not an Excel 97-2003 workbook: the file is not a compound document")};
    if (bytes.size() < kHeaderSize)
        return Error{QStringLiteral("the file is truncated: %1 bytes, less than a compound document header").arg(bytes.size())};
    if (bytes.size() > ULONG(-1))
        return Error{QStringLiteral("the file is larger than a compound document can be")};
    ComPtr<ILockBytes> lockBytes;
    if (FAILED(::CreateILockBytesOnHGlobal(nullptr, TRUE, lockBytes.out())))
        return Error{QStringLiteral("not enough memory to read the compound document")};
    ULONG written = 0;
    ULARGE_INTEGER at{};
    if (FAILED(lockBytes->WriteAt(at, bytes.data(), ULONG(bytes.size()), &written)) || written != bytes.size())
        return Error{QStringLiteral("not enough memory to read the compound document")};
    ComPtr<IStorage> root;
    const HRESULT hr = ::StgOpenStorageOnILockBytes(lockBytes.get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                                    root.out());
    if (FAILED(hr))
        return Error{QStringLiteral("the compound document is damaged: %1").arg(describe(hr))};
    CompoundFile cf;
    cf.m_root.isStorage = true;
    // A stream's bytes come from the file's own sectors, so all streams together cannot
    // legitimately exceed the file size; this also stops chains that share sectors from
    // multiplying it.
    ReadBudget budget{bytes.size()};
    if (Status s = readStorage(root.get(), cf.m_root, 0, budget); !s)
        return s.error();
    return cf;
}

Result<std::vector<uint8_t>> CompoundFile::serialize() const
{
    ComPtr<ILockBytes> lockBytes;
    if (FAILED(::CreateILockBytesOnHGlobal(nullptr, TRUE, lockBytes.out())))
        return Error{QStringLiteral("cannot start a compound document")};
    {
        ComPtr<IStorage> root;
        if (FAILED(::StgCreateDocfileOnILockBytes(lockBytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                                  root.out())))
            return Error{QStringLiteral("cannot start a compound document")};
        if (FAILED(root->SetClass(classIdOf(m_root.classId))))
            return Error{QStringLiteral("cannot start a compound document")};
        if (Status s = writeStorage(root.get(), m_root); !s)
            return s.error();
        if (FAILED(root->Commit(STGC_DEFAULT)))
            return Error{QStringLiteral("cannot finish the compound document")};
    }
    return bytesOf(lockBytes.get());
}

const StorageEntry *CompoundFile::findStream(const QByteArray &name) const
{
    for (const StorageEntry &e : m_root.children)
        if (!e.isStorage && e.name.compare(name, Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
}

StorageEntry &CompoundFile::setStream(const QByteArray &name, std::vector<uint8_t> data)
{
    for (StorageEntry &e : m_root.children)
        if (!e.isStorage && e.name.compare(name, Qt::CaseInsensitive) == 0) {
            e.data = std::move(data);
            return e;
        }
    m_root.children.push_back(StorageEntry{name, false, std::move(data), {}, {}});
    return m_root.children.back();
}

} // namespace xls
