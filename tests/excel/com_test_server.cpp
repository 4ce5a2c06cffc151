// Excel's stand-in for the COM tests: an out-of-process server that serves the program's own
// "Excel.Application" (the built-in backend, our engine) through IDispatch as
// Pantrimo.TestSpreadsheet, so the COM client is proven across a real process boundary.
//   pantrimo_test_com_server /RegServer     registers the class (LocalServer32) and its identifier
//   pantrimo_test_com_server /UnregServer   removes them
//   (started by COM, -Embedding)            serves one instance; ends when it is released
// Like Excel, every instance is a process of its own (the class object is for a single use),
// and CopyPicture leaves a bitmap (CF_BITMAP) on the clipboard, as Excel's xlBitmap does.
// PANTRIMO_TEST_COM_LOG names a file to which the server appends one line as it ends:
//   pid=<n> served=<0|1> live_at_end=<objects still referenced> ended=<released|idle>
// PANTRIMO_TEST_COM_BUSY=<n> turns away the first n calls on the application as busy.

#include "platform/automation/ClassRegistry.h"
#include "platform/excel/ExcelServer.h"
#include "platform/excel/builtin/BuiltinExcel.h"
#include "platform/excel/com/ObjectDispatch.h"
#include "platform/render/SheetRenderer.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTimer>

#include <objbase.h>
#include <windows.h>

namespace {

// {6F1C2B7A-3D0E-4C55-9A61-5B2E7D4C9F10}
constexpr CLSID kClsid = {0x6f1c2b7a, 0x3d0e, 0x4c55, {0x9a, 0x61, 0x5b, 0x2e, 0x7d, 0x4c, 0x9f, 0x10}};
const wchar_t kClsidText[] = L"{6F1C2B7A-3D0E-4C55-9A61-5B2E7D4C9F10}";
const wchar_t kProgId[] = L"Pantrimo.TestSpreadsheet";
constexpr int kIdleMs = 60000; // started and never asked: end rather than linger

bool g_served = false;

// Under Wine the per-machine classes are the ones COM reads; the prefix belongs to the tests.
bool setValue(const std::wstring &key, const std::wstring &value)
{
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    const LSTATUS s = RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                     DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    return s == ERROR_SUCCESS;
}

int registerServer(bool add)
{
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring clsidKey = classes + L"CLSID\\" + kClsidText;
    if (!add) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, clsidKey.c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + kProgId).c_str());
        return 0;
    }
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (n == 0 || n == MAX_PATH)
        return 1;
    const std::wstring command = L"\"" + std::wstring(exe, n) + L"\"";
    const bool ok = setValue(clsidKey, kProgId) && setValue(clsidKey + L"\\LocalServer32", command) &&
                    setValue(clsidKey + L"\\ProgID", kProgId) && setValue(classes + kProgId, kProgId) &&
                    setValue(classes + kProgId + L"\\CLSID", kClsidText);
    return ok ? 0 : 1;
}

// The picture as a bitmap of the screen's own format (what Excel's xlBitmap hands over), from
// which the system makes the device-independent CF_DIB that other processes read.
// (QImage::toHBITMAP makes a DIB section, which Wine cannot turn into CF_DIB for another process.)
HBITMAP deviceBitmap(const QImage &picture)
{
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = pixels.width();
    info.bmiHeader.biHeight = -pixels.height(); // top row first, as QImage keeps them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, pixels.width(), pixels.height());
    if (bitmap && SetDIBits(screen, bitmap, 0, UINT(pixels.height()), pixels.constBits(), &info, DIB_RGB_COLORS) == 0) {
        DeleteObject(bitmap);
        bitmap = nullptr;
    }
    ReleaseDC(nullptr, screen);
    return bitmap;
}

// Excel's CopyPicture(xlScreen, xlBitmap): the range drawn, as a device-dependent bitmap.
xls::Status copyBitmap(const excel::RangeRef &range)
{
    const xls::Result<QImage> picture = render::renderRange(range.workbook(), range.sheetIndex, range.rect);
    if (!picture)
        return picture.error();
    HBITMAP bitmap = deviceBitmap(picture.value());
    if (!bitmap)
        return xls::Error{QStringLiteral("CopyPicture: the picture could not be made a bitmap")};
    if (!OpenClipboard(nullptr)) {
        DeleteObject(bitmap);
        return xls::Error{QStringLiteral("CopyPicture: the clipboard is held by another program")};
    }
    EmptyClipboard();
    const bool placed = SetClipboardData(CF_BITMAP, bitmap) != nullptr; // the clipboard owns it now
    CloseClipboard();
    if (!placed) {
        DeleteObject(bitmap);
        return xls::Error{QStringLiteral("CopyPicture: the picture could not be put on the clipboard")};
    }
    return {};
}

// The application as a busy Excel answers it (a dialog open, a cell being edited): the first
// calls are turned away with RPC_E_SERVERCALL_RETRYLATER, then it is itself again. (Wine does
// not act on a message filter's answer, so the refusal is the call's own result.)
class BusyApplication final : public IDispatch {
public:
    BusyApplication(IDispatch *inner, int busyCalls) : m_inner(inner), m_busy(busyCalls) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            m_inner->Release();
            delete this;
        }
        return ULONG(refs);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override { return m_inner->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo **info) override { return m_inner->GetTypeInfo(i, l, info); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT n, LCID l, DISPID *ids) override
    {
        return m_inner->GetIDsOfNames(riid, names, n, l, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID l, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *exception, UINT *badArgument) override
    {
        if (m_busy > 0) {
            --m_busy;
            return RPC_E_SERVERCALL_RETRYLATER;
        }
        return m_inner->Invoke(id, riid, l, flags, params, result, exception, badArgument);
    }

private:
    IDispatch *m_inner;
    int m_busy;
    LONG m_refs = 1;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // lives as long as main()
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            IDispatch *application = com::ObjectDispatch::create(automation::createObject(QStringLiteral("Excel.Application")));
            if (const int busy = qEnvironmentVariableIntValue("PANTRIMO_TEST_COM_BUSY"); busy > 0)
                application = new BusyApplication(application, busy);
            g_served = true;
            const HRESULT hr = application->QueryInterface(riid, object);
            application->Release(); // the server ends when this was the only reference
            return hr;
        } catch (const std::exception &) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

void logEnd(const char *how)
{
    const QString path = qEnvironmentVariable("PANTRIMO_TEST_COM_LOG");
    if (path.isEmpty())
        return;
    QFile log(path);
    if (log.open(QIODevice::Append | QIODevice::Text))
        log.write(QStringLiteral("pid=%1 served=%2 live_at_end=%3 ended=%4\n")
                      .arg(GetCurrentProcessId())
                      .arg(g_served ? 1 : 0)
                      .arg(com::ObjectDispatch::liveCount())
                      .arg(QLatin1String(how))
                      .toUtf8());
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = QByteArray(argv[i]).toLower();
        if (a == "/regserver" || a == "-regserver")
            return registerServer(true);
        if (a == "/unregserver" || a == "-unregserver")
            return registerServer(false);
    }
    QGuiApplication app(argc, argv); // fonts for the renderer
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;

    platform::registerExcelApplication(QStringLiteral("builtin"));
    excel::setCopyPictureHandler(copyBitmap);
    com::ObjectDispatch::setLastReleasedHandler([] { QCoreApplication::quit(); });

    Factory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie)))
        return 1;
    bool idle = false;
    QTimer::singleShot(kIdleMs, &app, [&] {
        if (!g_served) {
            idle = true;
            QCoreApplication::quit();
        }
    });
    app.exec();
    CoRevokeClassObject(cookie);
    logEnd(idle ? "idle" : "released");
    CoUninitialize();
    return 0;
}
