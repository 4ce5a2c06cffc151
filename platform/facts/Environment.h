#pragma once
// The environment variables the program reads, named once. Tests and benchmarks set the
// same names to steer it.

namespace facts::env {

// Which spreadsheet server runs a generation: "builtin", "libreoffice", "excel" (an installed
// Excel through COM, Windows only) or "none". Unset: Excel where it is installed, else builtin.
inline constexpr char kExcel[] = "PANTRIMO_EXCEL";
// The COM identifier Excel is created from, for tests that stand a server of their own in its
// place; "Excel.Application" without it.
inline constexpr char kExcelProgId[] = "PANTRIMO_EXCEL_PROGID";
// How long a call waits for an Excel that says it is busy, in milliseconds, before it is reported.
inline constexpr char kExcelBusyMs[] = "PANTRIMO_EXCEL_BUSY_MS";
// The LibreOffice program to start instead of the one installed with the system.
inline constexpr char kSoffice[] = "PANTRIMO_SOFFICE";
// How long one call into LibreOffice may take, in milliseconds, before it counts as hung.
inline constexpr char kLibreOfficeTimeoutMs[] = "PANTRIMO_LIBREOFFICE_TIMEOUT_MS";
// The folder that holds each run's working folder; a private folder of our own without it.
inline constexpr char kTemp[] = "TEMP";
// Where the settings file lives (<application>.ini); ~/.config without it.
inline constexpr char kConfigHome[] = "XDG_CONFIG_HOME";
// On Windows, the registry key under HKEY_CURRENT_USER that holds the settings
// (<key>\<application>\<section>); Software without it.
inline constexpr char kSettingsKey[] = "PANTRIMO_SETTINGS_KEY";
// Where the kept LibreOffice profile lives; ~/.cache without it.
inline constexpr char kCacheHome[] = "XDG_CACHE_HOME";
// The user's home folder, for the defaults of the two above.
inline constexpr char kHome[] = "HOME";

} // namespace facts::env

namespace facts {

// The working folder of one run inside TEMP: this prefix, the process id, "-" and a random part.
inline constexpr char kRunFolderPrefix[] = "pantrimo-run-";

} // namespace facts
