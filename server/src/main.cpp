// korvan-service: the reference web service of the Korvan client.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "help") == 0) {
    std::puts("usage: korvan-service serve|catalogue|news ...");
    return argc < 2 ? 2 : 0;
  }
  std::fprintf(stderr, "korvan-service: unknown command: %s\n", argv[1]);
  return 2;
}
