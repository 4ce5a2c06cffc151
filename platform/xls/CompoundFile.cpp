#include "platform/xls/CompoundFile.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace xls {

namespace {

// libgsf reports what it repairs in a damaged file through g_warning; in a GUI program that
// would land on stderr. We keep the last message so the error we return can quote it.
thread_local QString t_lastGsfMessage;

void gsfLogHandler(const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
    t_lastGsfMessage = QString::fromUtf8(message).simplified();
}

void initGsf()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // libgsf logs without a domain of its own, so the default domain is the one to catch.
        for (const char *domain : {static_cast<const char *>(nullptr), "libgsf:msole", "libgsf", "GLib-GObject", "GLib"})
            g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_MESSAGE),
                              gsfLogHandler, nullptr);
    });
}

struct GObjectUnref {
    void operator()(void *p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template<class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct ReadBudget {
    size_t bytesLeft;
    size_t entriesLeft = CompoundFile::kMaxEntries;
};

QString takeGsfMessage()
{
    QString m = t_lastGsfMessage;
    t_lastGsfMessage.clear();
    return m.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m);
}

Status readStorage(GsfInfile *dir, StorageEntry &into, int depth, ReadBudget &budget)
{
    if (depth > CompoundFile::kMaxDepth)
        return Error{QStringLiteral("the compound document nests storages deeper than %1 levels").arg(CompoundFile::kMaxDepth)};
    if (GSF_IS_INFILE_MSOLE(dir))
        gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(dir), into.classId.data());
    const int n = gsf_infile_num_children(dir);
    for (int i = 0; i < n; ++i) {
        if (budget.entriesLeft-- == 0)
            return Error{QStringLiteral("the compound document has more than %1 entries").arg(CompoundFile::kMaxEntries)};
        GPtr<GsfInput> child(gsf_infile_child_by_index(dir, i));
        if (!child)
            return Error{QStringLiteral("directory entry %1 of the compound document cannot be opened%2").arg(i).arg(takeGsfMessage())};
        StorageEntry e;
        const char *name = gsf_infile_name_by_index(dir, i);
        e.name = QByteArray(name ? name : "");
        if (GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0) {
            e.isStorage = true;
            if (Status s = readStorage(GSF_INFILE(child.get()), e, depth + 1, budget); !s)
                return s;
        } else {
            const gsf_off_t size = gsf_input_size(child.get());
            if (size < 0 || size_t(size) > budget.bytesLeft)
                return Error{QStringLiteral("stream \"%1\" declares %2 bytes, more than the file can hold")
                                 .arg(QString::fromUtf8(e.name))
                                 .arg(qint64(size))};
            budget.bytesLeft -= size_t(size);
            e.data.resize(size_t(size));
            if (size > 0 && !gsf_input_read(child.get(), size_t(size), e.data.data()))
                return Error{QStringLiteral("stream \"%1\" cannot be read: its sector chain is broken%2")
                                 .arg(QString::fromUtf8(e.name), takeGsfMessage())};
        }
        into.children.push_back(std::move(e));
    }
    return {};
}

Status writeStorage(GsfOutfile *dir, const StorageEntry &from)
{
    for (const StorageEntry &e : from.children) {
        GPtr<GsfOutput> child(gsf_outfile_new_child(dir, e.name.constData(), e.isStorage));
        if (!child)
            return Error{QStringLiteral("cannot create \"%1\" in the compound document").arg(QString::fromUtf8(e.name))};
        bool ok = true;
        if (e.isStorage) {
            if (GSF_IS_OUTFILE_MSOLE(child.get()))
                gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(child.get()), e.classId.data());
            if (Status s = writeStorage(GSF_OUTFILE(child.get()), e); !s)
                return s;
        } else if (!e.data.empty()) {
            ok = gsf_output_write(child.get(), e.data.size(), e.data.data());
        }
        ok = gsf_output_close(child.get()) && ok;
        if (!ok)
            return Error{QStringLiteral("cannot write \"%1\" into the compound document").arg(QString::fromUtf8(e.name))};
    }
    return {};
}

} // namespace

Result<CompoundFile> CompoundFile::parse(std::span<const uint8_t> bytes)
{
    initGsf();
    if (bytes.empty())
        return Error{QStringLiteral("the file is empty")};
    if (bytes.size() < kCompoundSignature.size()
        || !std::equal(kCompoundSignature.begin(), kCompoundSignature.end(), bytes.begin()))
        return Error{QStringLiteral("not an Excel 97-2003 workbook: the file is not a compound document")};
    if (bytes.size() < kHeaderSize)
        return Error{QStringLiteral("the file is truncated: %1 bytes, less than a compound document header").arg(bytes.size())};
    GPtr<GsfInput> input(gsf_input_memory_new(bytes.data(), gsf_off_t(bytes.size()), FALSE));
    GError *gerr = nullptr;
    t_lastGsfMessage.clear();
    GPtr<GsfInfile> ole(gsf_infile_msole_new(input.get(), &gerr));
    if (!ole) {
        QString why = gerr ? QString::fromUtf8(gerr->message) : QStringLiteral("unreadable header or directory");
        if (gerr)
            g_error_free(gerr);
        return Error{QStringLiteral("the compound document is damaged: %1").arg(why)};
    }
    CompoundFile cf;
    cf.m_root.isStorage = true;
    // A stream's bytes come from the file's own sectors, so all streams together cannot
    // legitimately exceed the file size; this also stops chains that share sectors from
    // multiplying it.
    ReadBudget budget{bytes.size()};
    if (Status s = readStorage(ole.get(), cf.m_root, 0, budget); !s)
        return s.error();
    return cf;
}

Result<std::vector<uint8_t>> CompoundFile::serialize() const
{
    initGsf();
    GPtr<GsfOutput> sink(gsf_output_memory_new());
    GPtr<GsfOutfile> ole(gsf_outfile_msole_new(sink.get()));
    if (!ole)
        return Error{QStringLiteral("cannot start a compound document")};
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole.get()), m_root.classId.data());
    Status s = writeStorage(ole.get(), m_root);
    const bool closed = gsf_output_close(GSF_OUTPUT(ole.get()));
    if (!s)
        return s.error();
    if (!closed)
        return Error{QStringLiteral("cannot finish the compound document")};
    const guint8 *data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
    const gsf_off_t size = gsf_output_size(sink.get());
    if (!data || size <= 0)
        return Error{QStringLiteral("the compound document came out empty")};
    return std::vector<uint8_t>(data, data + size);
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
