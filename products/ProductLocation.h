// Where the installed products are: the program folders and company databases the suite records
// in the registry under "SOFTWARE\KORVANE S.A.\", the suite root, and the search of the drives
// for a product folder when the registry has no answer.
#pragma once

#include <string>

namespace kv {

class TdmUpdateCommon;

// The maker's registry root, below HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
inline constexpr const char* kMakerRegistryRoot = "SOFTWARE\\KORVANE S.A.\\";

// The product's executable (or, for Zorbalt, its base folder) as registered for the current user.
// With wholeValue false only the folder part, up to and including the last backslash or colon.
// Codes 12 and 13 answer the common folder below the suite root; unregistered products answer
// empty. Throws kv::Error for a value that is neither a string nor an integer.
std::string GetProductProgramPath(const std::string& productName, bool wholeValue);
// Records the product's executable (Zorbalt: its base folder), creating the key; false for a
// product without program path or when the write failed.
bool SetProductProgramPath(const std::string& productName, const std::string& path);
// The suite root with its trailing backslash: two levels above the first registered program
// folder that exists (WinTessivo, WinTessivo Ingenieur, Brisklane, Adresses, ZRQ, Calderix), that
// program folder itself when it no longer exists, empty when none is registered.
std::string GetSuiteRootFolder();
// The database of a company ("Default" for the default company) of a product, through
// LocalDatabaseAddress; with wholeValue false only its folder part. Empty for a product without
// databases or a company without entry.
std::string GetProductDatabaseName(const std::string& productName, const std::string& companyName,
                                   bool wholeValue);
// On Windows Vista and Windows 7 a local file name ("C:\Data\SOC.FDB") is reached through the
// database server's loopback address ("127.0.0.1:C:\Data\SOC.FDB"); any other name, and any name
// on other versions, is returned unchanged.
std::string LocalDatabaseAddress(const std::string& databaseName);

// Finds the folder FolderName ("WKorvane") at the root of the fixed and network drives. One find
// is answered at once; several, or none, make the user choose through the folder dialog until the
// choice leads to an existing folder or the dialog is cancelled. The answer is letter + ":\" +
// FolderName without trailing backslash, or, when the user gave up, empty or not existing: the
// caller checks it. Never throws. An operation of the engine's updaters, kept here because the
// engine knows nothing of the suite's layout.
std::string LocateProductFolder(TdmUpdateCommon& engine, const std::string& FolderName);

}  // namespace kv
