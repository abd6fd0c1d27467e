// File helpers for the Windows tests.
#ifndef ORB_TESTS_SESSION_WINE_TEST_FILES_H
#define ORB_TESTS_SESSION_WINE_TEST_FILES_H

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

// The directory the test program started in (set by main), which holds its files.
inline std::string& TestHome() {
  static std::string home;
  return home;
}

inline std::string CurrentDirectory() {
  char buf[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
  return std::string(buf, n < sizeof buf ? n : 0);
}

// The bytes on disk, or "<missing>".
inline std::string ReadBytes(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string n = d.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(h, &d));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

// Deletes dir and everything in it (files and directories), read-only ones included.
inline void RemoveTree(const std::string& dir) {
  for (const std::string& n : FilesIn(dir)) {
    const std::string p = dir + "\\" + n;
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(p.c_str())) RemoveTree(p);
  }
  RemoveDirectoryA(dir.c_str());
}

#endif
