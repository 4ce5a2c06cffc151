#include "platform/excel/builtin/BuiltinExcel.h"

#include "platform/facts/Environment.h"
#include "platform/files/Leftovers.h"

#include <QDir>
#include <QFileInfo>
#include <mutex>

using automation::AutomationError;
using automation::Variant;
using backend::CellRect;

namespace excel {

namespace {

std::mutex g_handlerMutex;
CopyPictureHandler g_copyPicture;

// A cell's error code (0x07 #DIV/0! ...) is the CVErr number less 2000.
constexpr int32_t kCvErrBase = 2000;

Variant errorValue(uint8_t code) { return Variant::fromError(kCvErrBase + code); }

Variant cellValue(const xls::Workbook &wb, const xls::Cell *cell)
{
    if (!cell)
        return {};
    switch (cell->type) {
    case xls::CellType::Blank:
        return {};
    case xls::CellType::Number:
        return cell->number;
    case xls::CellType::Text:
        return wb.text(*cell);
    case xls::CellType::Boolean:
        return Variant::fromBool(cell->code != 0);
    case xls::CellType::Error:
        return errorValue(cell->code);
    case xls::CellType::Formula:
        switch (cell->formula->result) {
        case xls::FormulaResult::Number:
            return cell->number;
        case xls::FormulaResult::Text:
            return wb.text(*cell);
        case xls::FormulaResult::Boolean:
            return Variant::fromBool(cell->code != 0);
        case xls::FormulaResult::Error:
            return errorValue(cell->code);
        case xls::FormulaResult::EmptyText:
            return QString();
        }
    }
    return {};
}

xls::CellRange cellRange(const CellRect &r)
{
    return {uint16_t(r.firstRow), uint16_t(r.lastRow), uint16_t(r.firstCol), uint16_t(r.lastCol)};
}

AutomationError failed(QStringView who, const xls::Error &error)
{
    return AutomationError(QStringLiteral("%1: %2").arg(who, error.message));
}
} // namespace

struct SessionState;

struct WorkbookState : backend::Document, std::enable_shared_from_this<WorkbookState> {
    std::weak_ptr<SessionState> session;
    std::unique_ptr<xls::Workbook> model; // null once closed
    QString filePath;

    xls::Workbook &live() const;

    QString path() const override { return filePath; }
    bool isClosed() const override { return !model; }

    int activeSheet(QStringView) override { return live().activeSheetIndex(); }

    std::vector<int> worksheets(QStringView) override
    {
        const xls::Workbook &wb = live();
        std::vector<int> out;
        for (int i = 0; i < wb.sheetCount(); ++i)
            if (wb.sheet(i).isWorksheet())
                out.push_back(i);
        return out;
    }

    QString sheetName(QStringView, int sheet) override { return live().sheet(sheet).name(); }

    Variant read(QStringView, int sheet, int32_t row, int32_t column) override
    {
        const xls::Workbook &wb = live();
        return cellValue(wb, wb.sheet(sheet).cellAt(uint16_t(row), uint16_t(column)));
    }

    void write(QStringView, int sheetIndex, const CellRect &range, const Variant &v) override
    {
        xls::Worksheet &sheet = live().sheet(sheetIndex);
        // Refused before any cell changes, so a range write is all or nothing.
        if (sheet.touchesArrayFormula(cellRange(range)))
            throw AutomationError(QStringLiteral("You can't change part of an array."));
        const QString text = v.type() == Variant::Type::String ? v.toString() : QString();
        const uint8_t error = v.isError() ? uint8_t(v.errorCode() - kCvErrBase) : 0;
        for (int32_t r = range.firstRow; r <= range.lastRow; ++r)
            for (int32_t c = range.firstCol; c <= range.lastCol; ++c) {
                switch (v.type()) {
                case Variant::Type::Empty:
                    sheet.setBlank(uint16_t(r), uint16_t(c));
                    break;
                case Variant::Type::Bool:
                    sheet.setBoolean(uint16_t(r), uint16_t(c), v.toBool());
                    break;
                case Variant::Type::String:
                    sheet.setText(uint16_t(r), uint16_t(c), text);
                    break;
                case Variant::Type::Error:
                    sheet.setError(uint16_t(r), uint16_t(c), error);
                    break;
                default:
                    sheet.setNumber(uint16_t(r), uint16_t(c), v.toDouble());
                    break;
                }
            }
    }

    CellRect usedRange(QStringView, int sheet) override
    {
        const xls::CellRange r = live().sheet(sheet).usedRange().value_or(xls::CellRange{});
        return {r.firstRow, r.lastRow, r.firstCol, r.lastCol};
    }

    void saveAs(QStringView who, const QString &path) override
    {
        // The run's own workbook lives in its private folder until the preview lets it go, and
        // what the user keeps is written by Save: flushing it to the disk here bought nothing
        // and cost most of a run's wall time.
        const bool runFile = files::ownerOf(QFileInfo(path).dir().dirName(), QString::fromLatin1(facts::kRunFolderPrefix)) != 0;
        if (xls::Status s = live().saveAs(path, !runFile); !s)
            throw failed(who, s.error());
        filePath = path;
    }

    void copyPicture(QStringView who, int sheet, const CellRect &range) override
    {
        live();
        CopyPictureHandler handler;
        {
            std::lock_guard lock(g_handlerMutex);
            handler = g_copyPicture;
        }
        if (!handler)
            throw AutomationError(QStringLiteral("%1: this build cannot draw a picture of a range").arg(who));
        const RangeRef ref{shared_from_this(), sheet, cellRange(range)};
        if (const xls::Status drawn = handler(ref); !drawn)
            throw AutomationError(drawn.error().message);
    }

    void close(QStringView) override;
};

struct SessionState : backend::Session, std::enable_shared_from_this<SessionState> {
    bool quitDone = false;
    std::vector<std::shared_ptr<WorkbookState>> workbooks;

    void checkRunning(QStringView) const override {} // it runs in this process

    std::shared_ptr<backend::Document> open(QStringView who, const QString &path) override
    {
        xls::Result<xls::Workbook> wb = xls::Workbook::open(path);
        if (!wb)
            throw failed(who, wb.error());
        auto state = std::make_shared<WorkbookState>();
        state->session = weak_from_this();
        state->model = std::make_unique<xls::Workbook>(std::move(*wb));
        state->filePath = QFileInfo(path).absoluteFilePath();
        workbooks.push_back(state);
        return state;
    }

    std::vector<std::shared_ptr<backend::Document>> documents() const override { return {workbooks.begin(), workbooks.end()}; }

    void quit() override
    {
        for (const auto &wb : workbooks)
            wb->model.reset();
        workbooks.clear();
        quitDone = true;
    }

    bool hasQuit() const override { return quitDone; }
    pid_t processId() const override { return 0; }
};

xls::Workbook &WorkbookState::live() const
{
    // Quit closes every workbook of the instance, so a closed one is all there is to catch.
    if (!model)
        throw AutomationError(QStringLiteral("The workbook %1 has been closed").arg(QFileInfo(filePath).fileName()));
    return *model;
}

void WorkbookState::close(QStringView)
{
    model.reset();
    if (const auto s = session.lock())
        std::erase(s->workbooks, shared_from_this());
}

const xls::Workbook &RangeRef::workbook() const { return book->live(); }
const xls::Worksheet &RangeRef::sheet() const { return book->live().sheet(sheetIndex); }

void setCopyPictureHandler(CopyPictureHandler handler)
{
    std::lock_guard lock(g_handlerMutex);
    g_copyPicture = std::move(handler);
}

std::shared_ptr<backend::Session> startBuiltinSession() { return std::make_shared<SessionState>(); }

} // namespace excel
