// bench_parse_only FILE: loads FILE the way the parser does by default and
// does nothing else. It is the yardstick of the benchmark: the cost of
// loading the document alone, with no reading of values and no output.
//
// Exit status 0 when the document loaded, 1 otherwise (with the parser's
// description on standard error), 2 on a wrong command line.

#include <pugixml.hpp>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: bench_parse_only FILE.xml\n", stderr);
    return 2;
  }
  pugi::xml_document document;
  const pugi::xml_parse_result result = document.load_file(argv[1], pugi::parse_default, pugi::encoding_auto);
  if (result.status != pugi::status_ok) {
    std::fprintf(stderr, "bench_parse_only: %s: %s\n", argv[1], result.description());
    return 1;
  }
  return 0;
}
