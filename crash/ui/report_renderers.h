// The renderers of the report view: each turns the text of one tab (header, call stacks, registers, stack
// dump, modules, processes, disassembly, anything else) into list columns and rows, or into nothing, in which
// case the view shows the text as it is. Portable: no system calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crash/ui/report_columns.h"

namespace rvx {

enum class RendererKind { Header, CallStack, Registers, StackDump, Modules, Processes, Disassembly, Automatic };

// What a renderer made of a page. A list is shown only when there are columns and items.
struct ReportPage {
  TColumns columns;
  TItems items;
  bool mono = false;         // the fixed font
  bool columnHeaders = true;  // only the automatic renderer turns them off
  bool IsList() const { return !columns.empty() && !items.empty(); }
};

// The renderer of tab `index` (0 header, 1 call stacks, from 2 the further sections) showing `text` of the
// section `sectionName`.
RendererKind ChooseRenderer(int index, std::string_view sectionName, std::string_view text);

ReportPage RenderPage(RendererKind kind, std::string_view text);

ReportPage RenderHeader(std::string_view text);
ReportPage RenderRegisters(std::string_view text);
ReportPage RenderStackDump(std::string_view text);
ReportPage RenderModules(std::string_view text);
ReportPage RenderProcesses(std::string_view text);
ReportPage RenderDisassembly(std::string_view text);
ReportPage RenderCallStack(std::string_view text);
ReportPage RenderAutomatic(std::string_view text);

// One part of a call stack text that shares its column layout: its text (separators blanked), separator
// columns (from 1) and the display column of each kind (-1 = not present). Display column 0 is the text
// before the first separator, display column k the text between separators k - 1 and k.
struct TPiece {
  std::string text;
  std::vector<int32_t> separators;
  int32_t module = 1, relAddress = -1, unit = -1, line = -1, relLine = -1, function = -1;
};
using TDAPiece = std::vector<TPiece>;

// Cuts a call stack text into pieces: a new piece starts at every empty or marker line that follows a line
// with text, except at a ">> created" line.
TDAPiece CutPieces(std::string_view text);
// Finds the separators and the kinds of the piece's display columns.
void AnalysePiece(TPiece& piece);

}  // namespace rvx
