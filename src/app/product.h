// The product's names and numbers, each written once.
#pragma once
#include "platform/win32.h"

// The build this installer belongs to (app/product_build.cpp); the product files it installs are
// of the same build.
extern const int kProductBuild;
const int kOldestCompatibleBuild = 2073;

#define PRODUCT_MONITOR_NAME TEXT("MarbleleafServer:")
#define PRODUCT_DRIVER_NAME TEXT("Marbleleaf Server")
#define PRODUCT_HELP_FILE TEXT("mlxhelp.chm")
#define PRODUCT_TRAY_FILE "mbltray.exe"
#define PRODUCT_SERVER_PRINTER TEXT("mblServer")
#define PRODUCT_MAKER TEXT("Orvanel Software Kft.")
#define PRODUCT_MAKER_URL TEXT("https://www.orvanel.example/marbleleaf")

// Product names are compared over their 17 characters and the terminator: exact and case-sensitive.
bool IsProductDriverName(LPCWSTR name);
bool IsProductMonitorName(LPCWSTR name);
