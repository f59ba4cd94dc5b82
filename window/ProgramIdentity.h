#pragma once

// The program's identity, in one place: the product's name (the caption, the desktop's menus),
// the program's internal name (the log file, the Windows program), its command, and its version.
// Plain definitions, so that the Windows resource compiler reads them too; CMake reads the version
// from here for the packages and the AppStream metadata, and the package test checks that
// debian/changelog's upstream version is the same.
#define QUINDRAL_PRODUCT_NAME "Orvane"
#define QUINDRAL_INTERNAL_NAME "Quindral"
#define QUINDRAL_COMMAND "quindral"
#define QUINDRAL_VERSION "1.00"
#define QUINDRAL_VERSION_NUMBERS 1, 0, 0, 0
