// The settings store in the registry: what the program writes is what Windows programs and
// QSettings read there, and a value someone else stored in another type is named, kept,
// and never lost to an empty list.

#include "platform/automation/AutomationError.h"
#include "platform/services/SettingsStore.h"

#include <QSettings>
#include <QTest>

#include <windows.h>

using automation::AutomationError;

namespace {
const QString kSection = QStringLiteral("Pantrimo");

// A key of its own per run, under HKEY_CURRENT_USER\Software, removed afterwards.
QString testApplication() { return QStringLiteral("PantrimoTest%1").arg(::GetCurrentProcessId()); }

HKEY openSection(const QString &application)
{
    HKEY key = nullptr;
    const std::wstring path = (QStringLiteral("Software\\") + application + QLatin1Char('\\') + kSection).toStdWString();
    ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

void storeRaw(const QString &name, DWORD type, const QByteArray &data)
{
    HKEY key = openSection(testApplication());
    QVERIFY(key);
    QCOMPARE(::RegSetValueExW(key, name.toStdWString().c_str(), 0, type, reinterpret_cast<const BYTE *>(data.constData()),
                              DWORD(data.size())),
             LONG(ERROR_SUCCESS));
    ::RegCloseKey(key);
}

QByteArray wide(const QString &s) { return QByteArray(reinterpret_cast<const char *>(s.utf16()), (s.size() + 1) * 2); }

DWORD typeOf(const QString &name)
{
    HKEY key = openSection(testApplication());
    DWORD type = REG_NONE;
    const LONG error = ::RegQueryValueExW(key, name.toStdWString().c_str(), nullptr, &type, nullptr, nullptr);
    ::RegCloseKey(key);
    return error == ERROR_SUCCESS ? type : REG_NONE;
}
} // namespace

class TestWindowsRegistry : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, (QStringLiteral("Software\\") + testApplication()).toStdWString().c_str());
    }

    void storedAsStringValuesUnderTheUsersSoftwareKey()
    {
        QCOMPARE(platform::settingsFilePath(QStringLiteral("Quillmark")), QStringLiteral("HKEY_CURRENT_USER\\Software\\Quillmark"));
        platform::SaveSettings(testApplication(), kSection, {{QStringLiteral("List0"), QStringLiteral("Apples;Pears")}});
        QCOMPARE(typeOf(QStringLiteral("List0")), DWORD(REG_SZ));
    }

    void valuesReadBackThroughQSettingsAndTheOtherWayRound_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("list") << QStringLiteral("Milk;Eggs;Bread");
        QTest::newRow("empty") << QString();
        QTest::newRow("leading at") << QStringLiteral("@Variant(not really)");
        QTest::newRow("quotes, backslashes, line break") << QStringLiteral("\"Tea\" \\ C:\\x;two\nlines");
        QTest::newRow("beyond Latin-1") << QStringLiteral(u"Crème brûlée;Żurek;寿司;🍎");
    }
    void valuesReadBackThroughQSettingsAndTheOtherWayRound()
    {
        QFETCH(QString, text);
        const QString registry = QStringLiteral("HKEY_CURRENT_USER\\Software\\") + testApplication();
        platform::SaveSettings(testApplication(), kSection, {{QStringLiteral("List3"), text}});
        {
            QSettings qt(registry, QSettings::NativeFormat);
            QCOMPARE(qt.value(kSection + QStringLiteral("/List3")).toString(), text);
            qt.setValue(kSection + QStringLiteral("/List4"), text);
        }
        QCOMPARE(platform::GetSetting(testApplication(), kSection, QStringLiteral("List4")), text);
        QCOMPARE(platform::GetSetting(testApplication(), kSection, QStringLiteral("List3")), text);
    }

    void aValueThatIsNotTextIsNamedAndNeverLostToAnEmptyList_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("number") << int(REG_DWORD) << QByteArray("\x07\x00\x00\x00", 4);
        QTest::newRow("list of strings") << int(REG_MULTI_SZ) << wide(QStringLiteral("a")) + wide(QString());
        QTest::newRow("binary") << int(REG_BINARY) << QByteArray("\x01\x02\x03", 3);
        QTest::newRow("QSettings variant") << int(REG_SZ) << wide(QStringLiteral("@Variant(\\0\\0\\0\\x7f)"));
    }
    void aValueThatIsNotTextIsNamedAndNeverLostToAnEmptyList()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        storeRaw(QStringLiteral("List1"), DWORD(type), data);
        storeRaw(QStringLiteral("List2"), REG_SZ, wide(QStringLiteral("Rice")));

        const platform::SettingsReading reading = platform::SettingsReading::read(testApplication());
        QCOMPARE(reading.value(kSection, QStringLiteral("List2")), QStringLiteral("Rice"));
        try {
            reading.value(kSection, QStringLiteral("List1"));
            QFAIL("a value that is not text was read as text");
        } catch (const AutomationError &e) {
            QCOMPARE(e.description(), QStringLiteral("The stored value List1 in HKEY_CURRENT_USER\\Software\\%1\\Pantrimo is "
                                                     "not text; it is left in the registry as it is")
                                          .arg(testApplication()));
        }

        platform::SaveSettings(testApplication(), kSection, {{QStringLiteral("List1"), QString()}});
        QCOMPARE(typeOf(QStringLiteral("List1")), DWORD(type));
        platform::SaveSettings(testApplication(), kSection, {{QStringLiteral("List1"), QStringLiteral("Oats")}});
        QCOMPARE(platform::GetSetting(testApplication(), kSection, QStringLiteral("List1")), QStringLiteral("Oats"));
        QCOMPARE(typeOf(QStringLiteral("List1.bak")), DWORD(type));
    }

    void aMissingKeyReadsAsTheDefault()
    {
        QCOMPARE(platform::GetSetting(testApplication(), kSection, QStringLiteral("List9"), QStringLiteral("none")),
                 QStringLiteral("none"));
    }
};

QTEST_GUILESS_MAIN(TestWindowsRegistry)
#include "test_windows_registry.moc"
