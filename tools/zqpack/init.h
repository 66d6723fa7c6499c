// zqpack init: a complete example product to start from: Setup.ini with
// every key explained, a license template, the two wizard bitmaps, a CAB
// Wizard .inf with one example file for zqpack cab, and a note on the CAB
// file.  Never replaces a file.
#pragma once
#include <string>
#include <vector>

// The longest product name whose wizard title, with the example's version
// "1.00", fits the program's 255 characters.
constexpr size_t kInitProductMaxChars = 224;

// Why name cannot serve as the example's product name ("" when it can):
// printable ASCII without brackets or quotes, since it also names a section
// of Setup.ini, and no longer than kInitProductMaxChars.
std::string ProductNameProblem(const std::string& name);

// The CAB file name and the install folder the example derives from the
// product name: its letters and digits (CAB: upper case, at most 8).
std::string ExampleCabName(const std::string& product);
std::string ExampleInstallDirectory(const std::string& product);
// The example's .inf, from which zqpack cab makes that CAB file: "NOTES.inf".
std::string ExampleInfName(const std::string& product);

// Writes the example into dir (made if needed) and returns the paths written.
// ZqError, and nothing written, when one of its files exists already.
std::vector<std::string> WriteExampleProduct(const std::string& dir, const std::string& product);
