// The stand-ins' logs: one line appended per call to the file named by an environment variable
// (a Windows path), opened and closed for each, so nothing is lost when the program ends the
// process at once.
#pragma once

#include <windows.h>

#include <string>

void AppendLine(const wchar_t* variable, const std::string& line);

// The stand-in page engine's object, for the class factory.
HRESULT CreateEngine(REFIID iid, void** object);

// The stand-in for each monitor's wallpaper (Monitors.cpp), for the class factory.
HRESULT CreateMonitorWallpapers(REFIID iid, void** object);
