// Runs a fuzz target over files or directories of inputs, for builds without libFuzzer:
// every committed corpus is a regression test everywhere. Exit status 0 when every input
// ran (a fault aborts the process), 1 when nothing was found or a file was unreadable.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int RunFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    fprintf(stderr, "replay: cannot open %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  fclose(f);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

int main(int argc, char** argv) {
  int files = 0, failures = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat st;
    if (stat(argv[i], &st) != 0) {
      fprintf(stderr, "replay: %s does not exist\n", argv[i]);
      return 1;
    }
    if (S_ISDIR(st.st_mode)) {
      DIR* dir = opendir(argv[i]);
      while (struct dirent* e = dir ? readdir(dir) : nullptr) {
        if (e->d_name[0] == '.') continue;
        failures += RunFile(std::string(argv[i]) + "/" + e->d_name);
        ++files;
      }
      if (dir) closedir(dir);
    } else {
      failures += RunFile(argv[i]);
      ++files;
    }
  }
  printf("replayed %d inputs, %d unreadable\n", files, failures);
  return files == 0 || failures != 0 ? 1 : 0;
}
