// Printer data: the plain values (GetPrinterData/SetPrinterData, kept under the key
// "PrinterDriverData", stored as key "") and the keyed ones (GetPrinterDataEx/SetPrinterDataEx).
// These calls return their status instead of setting the last error. Values are kept as the ANSI
// calls see them: the bytes given, with the type given. Key and value names ignore case, as in
// the registry that holds them on Windows.
//
// Where Wine 8 differs from Windows: Wine answers whether the spooler service runs or not;
// Windows returns 1722 (RPC_S_SERVER_UNAVAILABLE) while it is stopped.
// Not modelled: the printer's registry keys beyond these values, change notifications.
#include "spooler_internal.h"

using namespace winsim;
using namespace winsim::spool;

namespace {

std::string UpperA(const char* text) {
  std::string out = text ? text : "";
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

// The model's key for a caller's key name: "" for the plain data.
std::string KeyOf(const char* keyName) {
  return UpperA(keyName) == "PRINTERDRIVERDATA" ? std::string() : std::string(keyName);
}

std::map<std::string, PrinterDataValue>* FindKey(PrinterEntry& printer, const std::string& key) {
  for (auto& item : printer.data)
    if (UpperA(item.first.c_str()) == UpperA(key.c_str())) return &item.second;
  return nullptr;
}

PrinterDataValue* FindValue(std::map<std::string, PrinterDataValue>& values, const char* name) {
  for (auto& item : values)
    if (UpperA(item.first.c_str()) == UpperA(name)) return &item.second;
  return nullptr;
}

// The handle's printer, or the status that says why not.
DWORD Resolve(HANDLE handle, PrinterEntry** printer, PrinterHandle** out = nullptr) {
  if (!SpoolerAvailable()) return RPC_S_SERVER_UNAVAILABLE;
  PrinterHandle* h = UsableHandle(handle);
  if (!h || !(*printer = HandlePrinter(h))) return ERROR_INVALID_HANDLE;
  if (out) *out = h;
  return ERROR_SUCCESS;
}

DWORD GetData(HANDLE handle, const char* keyName, const char* valueName, LPDWORD type, LPBYTE data, DWORD size,
              LPDWORD needed) {
  PrinterEntry* printer = nullptr;
  const DWORD status = Resolve(handle, &printer);
  if (status != ERROR_SUCCESS) return status;
  if (!keyName || !valueName) return ERROR_INVALID_PARAMETER;
  if (!needed) return RPC_X_NULL_REF_POINTER;
  auto* values = FindKey(*printer, KeyOf(keyName));
  PrinterDataValue* value = values ? FindValue(*values, valueName) : nullptr;
  if (!value) return ERROR_FILE_NOT_FOUND;
  *needed = static_cast<DWORD>(value->data.size());
  if (type) *type = value->type;
  if (size < value->data.size() || (!data && !value->data.empty())) return ERROR_MORE_DATA;
  if (!value->data.empty()) std::memcpy(data, value->data.data(), value->data.size());
  return ERROR_SUCCESS;
}

// Writing needs PRINTER_ACCESS_ADMINISTER on the handle.
DWORD SetData(HANDLE handle, const char* keyName, const char* valueName, DWORD type, const BYTE* data, DWORD size) {
  PrinterEntry* printer = nullptr;
  PrinterHandle* h = nullptr;
  const DWORD status = Resolve(handle, &printer, &h);
  if (status != ERROR_SUCCESS) return status;
  if (!(h->access & PRINTER_ACCESS_ADMINISTER)) return ERROR_ACCESS_DENIED;
  if (!keyName || !valueName || (!data && size)) return ERROR_INVALID_PARAMETER;
  const std::string key = KeyOf(keyName);
  auto* values = FindKey(*printer, key);
  if (!values) values = &printer->data[key];
  PrinterDataValue* value = FindValue(*values, valueName);
  if (!value) value = &(*values)[valueName];
  value->type = type;
  value->data.assign(data, data + size);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD WINAPI GetPrinterDataA(HANDLE printer, LPSTR valueName, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
  WINSIM_ENTER_STATUS("GetPrinterDataA");
  return GetData(printer, "", valueName, type, data, size, needed);
}

DWORD WINAPI GetPrinterDataExA(HANDLE printer, LPCSTR keyName, LPCSTR valueName, LPDWORD type, LPBYTE data,
                               DWORD size, LPDWORD needed) {
  WINSIM_ENTER_STATUS("GetPrinterDataExA");
  if (keyName && !*keyName) {
    PrinterEntry* entry = nullptr;
    const DWORD status = Resolve(printer, &entry);
    return status != ERROR_SUCCESS ? status : static_cast<DWORD>(ERROR_INVALID_PARAMETER);
  }
  return GetData(printer, keyName, valueName, type, data, size, needed);
}

DWORD WINAPI SetPrinterDataA(HANDLE printer, LPSTR valueName, DWORD type, LPBYTE data, DWORD size) {
  WINSIM_ENTER_STATUS("SetPrinterDataA");
  return SetData(printer, "", valueName, type, data, size);
}

// An empty key name is refused: the plain data is written with SetPrinterDataA.
DWORD WINAPI SetPrinterDataExA(HANDLE printer, LPCSTR keyName, LPCSTR valueName, DWORD type, LPBYTE data,
                               DWORD size) {
  WINSIM_ENTER_STATUS("SetPrinterDataExA");
  if (keyName && !*keyName) {
    PrinterEntry* entry = nullptr;
    const DWORD status = Resolve(printer, &entry);
    return status != ERROR_SUCCESS ? status : static_cast<DWORD>(ERROR_INVALID_PARAMETER);
  }
  return SetData(printer, keyName, valueName, type, data, size);
}
