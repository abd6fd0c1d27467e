// Runs every file of the given corpus directories through the fuzz target once, for
// builds without libFuzzer. Exit status 0 when all ran (a fault aborts the process).
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    DIR* dir = opendir(argv[i]);
    if (!dir) {
      fprintf(stderr, "replay: cannot open %s\n", argv[i]);
      return 2;
    }
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const std::string path = std::string(argv[i]) + "/" + entry->d_name;
      FILE* f = fopen(path.c_str(), "rb");
      if (!f) continue;
      std::vector<uint8_t> bytes;
      int c;
      while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
      fclose(f);
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++files;
    }
    closedir(dir);
  }
  printf("replayed %d inputs\n", files);
  return files > 0 ? 0 : 1;
}
