// rvx form: readable component descriptions <-> binary component streams.
#include "framework/component_stream.h"
#include "framework/component_text.h"
#include "framework/exceptions.h"
#include "tools/rvx/command.h"

#include <iostream>

namespace rvxtool {
namespace {

int RunForm(const Args& a) {
  std::string error, input, output;
  if (a.size() == 3 && a[0] == "build") {
    if (!ReadFileBytes(a[1], input, error)) return Fail(error);
    if (!fw::CompileComponentText(input, output, error)) return Fail(a[1] + ":" + error);
    if (!WriteFileBytes(a[2], output, error)) return Fail(error);
    return 0;
  }
  if (a.size() == 2 && a[0] == "dump") {
    if (!ReadFileBytes(a[1], input, error)) return Fail(error);
    try {
      std::cout << fw::ComponentToText(fw::ReadComponentStream(input));
    } catch (const Exception& e) {
      return Fail(a[1] + ": " + e.Message());
    }
    return 0;
  }
  return UsageError("form: expected 'build TEXT OUT' or 'dump FILE'");
}

RvxCommand cmd{"form",
               "  rvx form build TEXT OUT     compile a readable component description into a TPF0 stream\n"
               "  rvx form dump FILE          print a TPF0 stream in the readable form",
               RunForm};

}  // namespace
}  // namespace rvxtool
