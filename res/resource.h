// Identifiers of the program's own resources, shared by tarvel.rc and the code that loads them.
#pragma once

// The program's icon: the lowest icon id, so the shell shows it for tarvel.exe too.
#define IDI_MAINICON 1
