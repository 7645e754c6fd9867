// The product's names and numbers, each written once: its files (one row a module), the vendor's
// registry root, the event source, the companion.
#pragma once
#include "platform/win32.h"

// The build this installer belongs to (app/product_build.cpp); the product files it installs are
// of the same build.
extern const int kProductBuild;
const int kOldestCompatibleBuild = 2073;

#define PRODUCT_MONITOR_NAME TEXT("MarbleleafServer:")
#define PRODUCT_DRIVER_NAME TEXT("Marbleleaf Server")
// Both names have 17 characters; the port name is the monitor's.
const DWORD kProductNameLength = 17;
#define PRODUCT_SERVER_PRINTER TEXT("mblServer")
#define PRODUCT_MAKER TEXT("Orvanel Software Kft.")
#define PRODUCT_MAKER_URL TEXT("https://www.orvanel.example/marbleleaf")

// The vendor's registry root, under HKEY_LOCAL_MACHINE (the saved-printer journal) and under
// HKEY_CURRENT_USER (the printers' per-user settings). ANSI, as the product's registry paths are.
#define PRODUCT_VENDOR_KEY "Software\\Orvanel Software KFT\\Marbleleaf"

// The event source of the installer and the message file that install.exe carries for it.
#define PRODUCT_EVENT_SOURCE_ANSI "Marbleleaf Install"
#define PRODUCT_EVENT_SOURCE TEXT(PRODUCT_EVENT_SOURCE_ANSI)
#define PRODUCT_EVENT_MESSAGE_FILE TEXT("mlxevent.dll")

// The tray companion's file, in the parent folder of the installer's folder.
#define PRODUCT_TRAY_FILE "mbltray.exe"

// The two driver environments the product ships modules for.
enum ProductPlatform { kPlatformX64, kPlatformX86 };
// Where a module goes: the system folder, or the environment's driver folder (the spooler keeps
// the files of its version-3 drivers in that folder's sub-folder "3", so they may lie in both).
enum ProductFolderKind { kSystemFolder, kDriverFolder };
enum ProductModuleRole { kMonitorModule, kDriverModule, kUiModule, kHelpFile };

struct ProductModule {
  ProductPlatform platform;
  ProductFolderKind folder;
  LPCWSTR fileName;
  ProductModuleRole role;
};

const int kProductModuleCount = 8;
extern const ProductModule kProductModules[kProductModuleCount];

ProductPlatform PlatformOf(bool isX64);
// The spooler's name of the platform's environment.
LPCWSTR EnvironmentName(ProductPlatform platform);
// The file name of the platform's module of that role.
LPCWSTR ProductModuleFile(ProductPlatform platform, ProductModuleRole role);

// Product names compare exactly and case-sensitively.
bool IsProductDriverName(LPCWSTR name);
bool IsProductMonitorName(LPCWSTR name);
