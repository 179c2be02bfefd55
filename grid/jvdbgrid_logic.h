// Decisions of the data grid that need no window: cell colours, field glyphs, column widths, key and wheel
// rules, incremental search, check-box values, title sort markers and the stored column layout. The grid
// control (jvdbgrid.h) asks these and does the drawing and the dataset calls itself.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/db.h"
#include "framework/graphics.h"

namespace fw {

enum TSortMarker { smNone, smDown, smUp };
enum TSelectColumn { scDataBase, scGrid };
enum TJvDBGridColumnResize { gcrNone, gcrGrid, gcrDataSet };
enum TJvDBGridCellHintPosition { gchpDefault, gchpMouse };
enum TJvDBGridControlSize { fcCellSize, fcDesignSize, fcBiggest };

namespace jvgrid {

// Glyph indexes of the shared glyph cache, and the resource names in index order.
enum Glyph {
  kGlyphNone = -1, kGlyphBlob = 0, kGlyphMemo = 1, kGlyphPict = 2, kGlyphOle = 3, kGlyphObject = 4,
  kGlyphData = 5, kGlyphNotEmpty = 6, kGlyphSortDown = 7, kGlyphSortUp = 8, kGlyphChecked = 9,
  kGlyphUnchecked = 10, kGlyphPopup = 11,
};
constexpr int kGlyphCount = 12;
extern const char* const kGlyphNames[kGlyphCount];
extern const char* const kMultiSelectGlyphNames[2];  // dot (0), arrow (1)

// ---- cell colours ----
struct CellColourInput {
  TColor columnColor = clWindow;
  TColor columnFontColor = clWindowText;
  bool columnColorAssigned = false;
  TColor columnDefaultColor = clWindow;
  bool fixed = false;          // a frozen column or a fixed row
  TColor fixedColor = clBtnFace;
  int gridRow = 0;             // screen row of the cell
  int fixedRows = 0;
  TColor alternateRowColor = clNone;
  TColor alternateRowFontColor = clNone;
  TColor gridColor = clWindow;
  bool highlight = false;
};
struct CellColours {
  TColor background;
  TColor font;
};
// Steps 1 to 3 of the colour rule (the events and the read-only colour come after).
CellColours DecideCellColours(const CellColourInput& in);

// Whether a cell's background becomes ReadOnlyCellColor (step 5).
struct ReadOnlyColourInput {
  TColor readOnlyCellColor = clDefault;
  bool highlight = false;
  bool hasField = false;
  bool fieldEditable = false;        // can modify and OnCanEditCell allows
  bool rowSelected = false;
  bool focused = false;
  bool multiSelect = false;
  bool lookupKeyEditable = false;    // lookup field whose first key field can be modified and is allowed
};
bool UseReadOnlyColour(const ReadOnlyColourInput& in);

// ---- glyphs ----
struct GlyphInput {
  TFieldType type = ftUnknown;
  bool showGlyphs = true;
  bool showMemos = true;
  bool booleanEditor = true;
  bool logicalLike = false;
  bool isNull = false;
  bool boolValue = false;     // logical fields
  int64_t intValue = 0;       // numeric logical-like fields
  bool textIsFalse = false;   // string logical-like fields: text equals the false string ignoring case
};
int FieldGlyph(const GlyphInput& in);

// Types that may be shown as check boxes when the application says so.
bool MayBeLogicalLike(TFieldType type);
// Types that get no editor at all.
bool HasNoEditor(TFieldType type);
bool IsStringType(TFieldType type);
bool IsNumericLogicalType(TFieldType type);

// ---- column widths ----
// Bounds of MinColumnWidth / MaxColumnWidth (0: none).
int BoundColumnWidth(int width, int minWidth, int maxWidth);
// Automatic sizing of the visible columns. `available` is the client width less the indicator's allowance;
// `index` -1 scales all, -2 gives the rest to the last, n gives the rest to column n. Returns the new widths
// (unchanged when nothing is to be done).
std::vector<int> AutoSizeWidths(const std::vector<int>& widths, int available, int index, int lineWidth);
// Width that fits a column's widest text.
int FitWidth(int widestText, int overhang, int defaultColWidth);

// ---- keys and wheel ----
enum class KeyAction {
  Framework,            // hand to the framework's handling
  ClearThenFramework,   // clear the multi-row selection, then the framework
  FirstFreeColumn,      // select the first non-frozen column
  Stop,                 // nothing more
  Delete,               // Ctrl+Delete rule
  MoveUp,               // one record back with selection handling
  MoveDown,             // one record forward with selection handling and append
  Tab,                  // next / previous tab-stop column
};
struct KeyContext {
  bool ctrl = false, shift = false, alt = false;
  int fixedCols = 0;
  int dataColumns = 0;
  bool rowSelect = false;
  bool inserting = false;
  bool canInsert = false;       // dataset modifiable, grid not read-only, dgEditing
  bool atFirstFreeColumn = false;
};
KeyAction DecideKey(unsigned short vk, const KeyContext& c);

// Records the wheel moves the dataset by (negative: back).
int WheelDistance(bool down, bool shift, bool ctrl, bool alt, int visibleRows);

// ---- incremental search and logical editing ----
bool InSearchSet(unsigned char c);
// The first pick-list item that starts with `text` ignoring case, or -1.
int PickListMatch(const std::vector<std::string>& items, std::string_view text);
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

enum class LogicalKey { Ignore, SetFalse, SetTrue, Toggle };
LogicalKey LogicalKeyOf(char key);
// The value a logical-like field takes. `kind`: 0 string, 1 logical, 2 numeric.
struct LogicalCurrent {
  bool isNull = true;
  std::string text;    // string kind
  bool boolValue = false;
  int64_t intValue = 0;
};
Variant LogicalNewValue(int kind, LogicalKey action, const LogicalCurrent& current, const std::string& trueText,
                        const std::string& falseText);

// ---- title sorting ----
struct IndexChoice {
  std::string fieldList;  // "A;B"
  bool descending = false;
};
// Index to use for a title click on `field` (or -1): the last match before one whose direction differs from
// the current one (descending when the marker is smUp).
int ChooseSortIndex(const std::vector<IndexChoice>& defs, std::string_view field, TSortMarker current);
// Marker after a click without a usable index.
TSortMarker NextSortMarker(bool sameField, TSortMarker current);

// ---- stored layout ----
// "%d,%d" values keyed by "<grid>.<field>".
std::string LayoutKey(std::string_view gridName, std::string_view fieldName);
std::string LayoutValue(int index, int width);
struct LayoutEntry {
  int index;
  int width;
  bool visible;
};
// Parses a stored value; parts that do not parse keep `current`'s index or width; width "-1" hides.
LayoutEntry ParseLayoutValue(std::string_view text, int currentIndex, int currentWidth);

// A small store of named text values under paths (what the form placement offers the grid).
class TNamedValueStore {
 public:
  void WriteString(const std::string& path, const std::string& name, const std::string& value);
  std::optional<std::string> ReadString(const std::string& path, const std::string& name) const;
  int Count(const std::string& path) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> values_;
};

// ---- chooser sizing ----
// Client height of the column chooser for n items of height h, given its current client height and the
// list's current client height.
int ChooserClientHeight(int items, int itemHeight, int clientHeight, int listClientHeight);

}  // namespace jvgrid
}  // namespace fw
