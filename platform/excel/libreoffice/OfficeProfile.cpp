#include "platform/excel/libreoffice/OfficeProfile.h"

#include "platform/facts/Environment.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Leftovers.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamReader>

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lo {

namespace {

const QString kProfilePrefix = QStringLiteral("pantrimo-office-");
const QString kStampName = QStringLiteral("pantrimo-profile-stamp");
const QString kSettingsFile = QStringLiteral("user/registrymodifications.xcu");
constexpr qint64 kMaxSettingsBytes = 16 * 1024 * 1024;

// No lock files: a killed or hung office would leave a stale ".~lock" beside the caller's
// workbook, and the next office to open it would refuse without a word. No document
// recovery: the documents are ours and hidden, their backups would only fill the profile.
// The version last set up: an office that finds its own version newer than that runs its
// graphics self-tests at every start (a second of work here), and a headless one never
// records that it has run them.
QByteArray settingsFor(const QByteArray &productVersion)
{
    QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/AutoSave"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/RecoveryInfo"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
)";
    if (!productVersion.isEmpty())
        xml += R"(<item oor:path="/org.openoffice.Setup/Product"><prop oor:name="ooSetupLastVersion" oor:op="fuse"><value>)" +
               productVersion + "</value></prop></item>\n";
    return xml + "</oor:items>\n";
}

// What the office's program folder says of it: the build id in versionrc ("40(Build:2)")
// and the major.minor version in bootstraprc's ProductKey ("LibreOffice 7.4").
struct OfficeFacts {
    QByteArray buildId;
    QByteArray productVersion;
};

QByteArray valueIn(const QString &file, const QByteArray &key)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.read(1 << 20).split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1).trimmed();
    return {};
}

OfficeFacts factsOf(const QString &officeBinary)
{
    const QDir program = QFileInfo(QFileInfo(officeBinary).canonicalFilePath()).dir();
    static const QRegularExpression version(QStringLiteral("(\\d+\\.\\d+)\\s*$"));
    OfficeFacts facts;
    facts.buildId = valueIn(program.filePath(QStringLiteral("versionrc")), "buildid");
    const QString productKey = QString::fromUtf8(valueIn(program.filePath(QStringLiteral("bootstraprc")), "ProductKey"));
    facts.productVersion = version.match(productKey).captured(1).toLatin1();
    return facts;
}

// Our settings, and the build id the office writes into a profile it has just made: finding
// it already there, it does not clear its extension cache and restart itself (exit code 81)
// on its first start. A wrong one only costs that restart.
bool writeSettings(const QString &profile, const OfficeFacts &facts)
{
    if (!QDir(profile).mkpath(QStringLiteral("user/extensions")))
        return false;
    if (!facts.buildId.isEmpty())
        files::writeFileAtomically(QDir(profile).filePath(QStringLiteral("user/extensions/buildid")), facts.buildId);
    return files::writeFileAtomically(QDir(profile).filePath(kSettingsFile), settingsFor(facts.productVersion)).written();
}

// The office keeps our settings in its own file and rewrites it; a file it left half
// written, or one that lost the locking setting, makes the profile one to rebuild.
bool settingsIntact(const QString &profile)
{
    QFile file(QDir(profile).filePath(kSettingsFile));
    if (file.size() > kMaxSettingsBytes || !file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    QString item, prop;
    bool lockingOff = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("item"))
                item = xml.attributes().value(QLatin1String("oor:path")).toString();
            else if (xml.name() == QLatin1String("prop"))
                prop = xml.attributes().value(QLatin1String("oor:name")).toString();
            else if (xml.name() == QLatin1String("value") && item == QLatin1String("/org.openoffice.Office.Common/Misc") &&
                     prop == QLatin1String("UseLocking"))
                lockingOff = xml.readElementText() == QLatin1String("false");
        }
    }
    return !xml.hasError() && lockingOff;
}

// What identifies the office a profile was made by: its program and version files, with
// their sizes and times, so that an upgrade in place counts as another office.
QString stampFor(const QString &officeBinary)
{
    const QFileInfo binary(QFileInfo(officeBinary).canonicalFilePath());
    QString stamp = QStringLiteral("pantrimo libreoffice profile 2\n");
    for (const QString &name : {binary.fileName(), QStringLiteral("versionrc"), QStringLiteral("libmergedlo.so")}) {
        const QFileInfo f(binary.dir().filePath(name));
        stamp += QStringLiteral("%1 %2 %3\n").arg(f.absoluteFilePath()).arg(f.size()).arg(f.lastModified().toMSecsSinceEpoch());
    }
    QFile versionrc(binary.dir().filePath(QStringLiteral("versionrc")));
    if (versionrc.open(QIODevice::ReadOnly))
        stamp += QString::fromLatin1(QCryptographicHash::hash(versionrc.read(1 << 20), QCryptographicHash::Sha256).toHex()) + '\n';
    return stamp;
}

// A real folder of this user's, made private; never a link someone left in its place.
bool privateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && ((st.st_mode & 0777) == 0700 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return ours;
}

// The lock of the kept profile, taken without waiting; -1 when another program holds it.
int takeLock(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QString readStamp(const QString &profile)
{
    QFile file(QDir(profile).filePath(kStampName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(64 * 1024));
}

// Empties the kept profile and puts our settings in; the stamp goes first, so a profile
// half removed by a killed program is never taken for a complete one.
bool remake(const QString &profile, const OfficeFacts &facts)
{
    QFile::remove(QDir(profile).filePath(kStampName));
    if (QFileInfo::exists(profile) && !files::removeTree(profile))
        return false;
    return privateFolder(profile) && writeSettings(profile, facts);
}

} // namespace

QString keptProfilePath()
{
    // Only an absolute XDG_CACHE_HOME counts; a relative one is to be ignored.
    QString cache = qEnvironmentVariable(facts::env::kCacheHome);
    if (!QDir::isAbsolutePath(cache)) {
        const QString home = qEnvironmentVariable(facts::env::kHome);
        if (!QDir::isAbsolutePath(home))
            return {};
        cache = QDir(home).filePath(QStringLiteral(".cache"));
    }
    return QDir::cleanPath(cache + QStringLiteral("/pantrimo/libreoffice-profile"));
}

std::unique_ptr<OfficeProfile> OfficeProfile::acquire(const QString &officeBinary, bool avoidKept)
{
    std::unique_ptr<OfficeProfile> profile(new OfficeProfile);
    profile->m_work = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("%1%2-XXXXXX").arg(kProfilePrefix).arg(::getpid())));
    const QTemporaryDir &work = *profile->m_work;
    if (!work.isValid())
        throw std::runtime_error(("no private folder for LibreOffice in " + QDir::tempPath() + ": " + work.errorString()).toStdString());
    // Held while the office may use the folder: a sweep by another program, even one in
    // another pid namespace, leaves it be.
    profile->m_workLock = files::lockFolder(work.path());
    // The office's own temporary files (its lu*.tmp folders) go where a sweep finds them.
    if (!privateFolder(profile->temporaryFolder()))
        throw std::runtime_error(("no private folder for LibreOffice's files in " + work.path()).toStdString());

    if (!profile->takeKept(officeBinary, avoidKept)) {
        // Another program has the kept profile, or it cannot be had: the office makes a new
        // one in our private folder, at the price of its first-run work. Its name has a part
        // no one else can list (the folder is 0700): the office names its single-instance
        // pipe in /tmp after the profile's path, which another user must not be able to
        // work out and take first.
        profile->m_path = QDir(work.path()).filePath(
            QStringLiteral("profile-%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0')));
        if (!privateFolder(profile->m_path))
            throw std::runtime_error(("no private folder for LibreOffice's profile in " + work.path()).toStdString());
        writeSettings(profile->m_path, factsOf(officeBinary)); // without them the office still runs, with its defaults
    }
    return profile;
}

bool OfficeProfile::takeKept(const QString &officeBinary, bool avoidKept)
{
    const QString kept = keptProfilePath();
    if (kept.isEmpty() || avoidKept)
        return false;
    const QString pantrimoCache = QFileInfo(kept).path();
    if (!QDir().mkpath(QFileInfo(pantrimoCache).path()) || !privateFolder(pantrimoCache))
        return false;
    const int fd = takeLock(kept + QStringLiteral(".lock"));
    if (fd < 0)
        return false;
    m_stamp = stampFor(officeBinary);
    m_binary = officeBinary;
    struct stat st {};
    const bool exists = ::lstat(QFile::encodeName(kept).constData(), &st) == 0;
    // A link in its place is never followed (nor can it be anyone's but ours: the folder is 0700).
    const bool usable = !exists || (S_ISDIR(st.st_mode) && st.st_uid == ::getuid());
    if (usable && exists && readStamp(kept) == m_stamp && settingsIntact(kept) && privateFolder(kept))
        m_warm = true;
    else if (!usable || !remake(kept, factsOf(officeBinary))) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    m_path = kept;
    return true;
}

OfficeProfile::~OfficeProfile()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_work.reset();
    if (m_workLock >= 0)
        ::close(m_workLock);
}

QString OfficeProfile::temporaryFolder() const { return QDir(m_work->path()).filePath(QStringLiteral("tmp")); }

QString OfficeProfile::url() const { return QUrl::fromLocalFile(m_path).toString(QUrl::FullyEncoded); }

void OfficeProfile::markStarted()
{
    if (!isKept() || m_warm)
        return;
    files::WriteOptions options;
    options.followLink = false;
    m_warm = files::writeFileAtomically(QDir(m_path).filePath(kStampName), m_stamp.toUtf8(), options).written();
}

bool OfficeProfile::rebuild()
{
    if (!isKept())
        return false;
    m_warm = false;
    return remake(m_path, factsOf(m_binary));
}

} // namespace lo
