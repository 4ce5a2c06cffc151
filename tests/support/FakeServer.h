#pragma once
// A spreadsheet server that can be created and answers only Version and Quit, for
// tests of the program around the server rather than of the server.

#include "platform/automation/ClassRegistry.h"

namespace testing {

class FakeExcel : public automation::DispatchObject {
public:
    explicit FakeExcel(QString version = QStringLiteral("16.0")) : m_version(std::move(version))
    {
        addGetter("Version", [this](const automation::Args &) { return automation::Variant(m_version); });
        addGetter("Quit", [this](const automation::Args &) { ++quits; return automation::Variant(); });
    }
    QString className() const override { return QStringLiteral("Application"); }
    int quits = 0;

private:
    QString m_version;
};

inline void registerFakeExcel(const QString &version = QStringLiteral("16.0"))
{
    automation::ClassRegistry::instance().registerClass(
        QStringLiteral("Excel.Application"), [version] { return std::make_shared<FakeExcel>(version); });
}

} // namespace testing
