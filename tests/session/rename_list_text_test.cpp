#include "rename_list_text.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

namespace {

FILE* FileWith(const std::string& text) {
  FILE* f = tmpfile();
  fwrite(text.data(), 1, text.size(), f);
  rewind(f);
  return f;
}

std::string Contents(FILE* f) {
  rewind(f);
  std::string s;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

// Runs the rewrite over `old` (or no list at all) and returns the new list.
std::string Rewrite(const std::string* old, const char* path, const char* new_path = nullptr) {
  FILE* in = old ? FileWith(*old) : nullptr;
  FILE* out = tmpfile();
  EXPECT_TRUE(WriteRenameList(in, out, path, new_path));
  std::string result = Contents(out);
  fclose(out);
  if (in) fclose(in);
  return result;
}

const char kShim[] = "C:\\Games\\Demo\\wsock32.dll";

TEST(RenameList, EntryGoesFirstInASectionOfAnyCase) {
  const std::string old = "[boot]\na=b\n[Rename]\nX=Y\n";
  EXPECT_EQ(Rewrite(&old, kShim), "[boot]\na=b\n[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\nX=Y\n");
  const std::string upper = "[RENAME]\nX=Y\n[later]\nk=v\n";
  EXPECT_EQ(Rewrite(&upper, kShim), "[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\nX=Y\n[later]\nk=v\n");
}

TEST(RenameList, MissingListHoldsOnlyTheSection) {
  EXPECT_EQ(Rewrite(nullptr, kShim), "[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\n");
}

TEST(RenameList, ListWithoutSectionGainsItAtItsEnd) {
  const std::string old = "[boot]\na=b\n\n[386Enh]\nc=d\n";
  EXPECT_EQ(Rewrite(&old, kShim), old + "[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\n");
}

TEST(RenameList, RenameFormNamesTheNewPathFirst) {
  EXPECT_EQ(Rewrite(nullptr, "C:\\old.dll", "C:\\new.dll"), "[rename]\nC:\\new.dll=C:\\old.dll\n");
}

TEST(RenameList, LastLineWithoutLineFeedStaysALineOfItsOwn) {
  const std::string old = "[boot]\na=b";
  EXPECT_EQ(Rewrite(&old, kShim), "[boot]\na=b\n[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\n");
}

TEST(RenameList, OnlyTheFirstSectionTakesTheEntry) {
  const std::string old = "[rename]\nA=B\n[rename]\nC=D\n";
  EXPECT_EQ(Rewrite(&old, kShim), "[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\nA=B\n[rename]\nC=D\n");
}

TEST(RenameList, LongLinesAreCopiedWholeAndNeverMistakenForTheHeader) {
  // A 600-character line whose later pieces begin with "[rename]" at the read boundaries.
  std::string filler(255, 'x');
  std::string longline = "k=" + filler.substr(2) + "[rename]" + std::string(337, 'y') + "\n";
  const std::string old = longline + "[rename]\nX=Y\n";
  EXPECT_EQ(Rewrite(&old, kShim), longline + "[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\nX=Y\n");

  // A long header line is consumed whole: its tail does not turn into an entry.
  const std::string header = "[rename] ; " + std::string(400, 'c') + "\nX=Y\n";
  EXPECT_EQ(Rewrite(&header, kShim), "[rename]\nNUL=C:\\Games\\Demo\\wsock32.dll\nX=Y\n");
}

TEST(RenameList, RefusesMissingArguments) {
  FILE* out = tmpfile();
  EXPECT_FALSE(WriteRenameList(nullptr, out, nullptr, nullptr));
  EXPECT_FALSE(WriteRenameList(nullptr, nullptr, kShim, nullptr));
  EXPECT_EQ(Contents(out), "");
  fclose(out);
}

TEST(RenameList, WriteFailureIsReported) {
  FILE* out = fopen("/dev/full", "w");
  if (out == nullptr) GTEST_SKIP() << "no /dev/full";
  const std::string old(10000, 'z');  // more than one stdio buffer
  FILE* in = FileWith(old);
  EXPECT_FALSE(WriteRenameList(in, out, kShim, nullptr));
  fclose(in);
  fclose(out);
}

}  // namespace
