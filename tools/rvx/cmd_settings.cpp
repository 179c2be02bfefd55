// rvx settings: compile a readable settings record into its resource bytes, and show the settings a resource
// file or a program carries.
#include <cstdio>
#include <iostream>
#include <sstream>

#include "crash/core/settings.h"
#include "crash/stack/text.h"
#include "framework/component_text.h"
#include "tools/rvx/command.h"

namespace rvxtool {
namespace {

using namespace rvx;

void Quiet(const std::string&) {}

// Terminal text of a code page 1252 value, in the readable notation: quoted, '' for a quote, #n for control
// characters.
std::string Quoted(const std::string& ansi) {
  std::string out = "'";
  bool open = true;
  for (char c : ansi) {
    auto u = static_cast<uint8_t>(c);
    if (u < 32) {
      if (open) out += "'";
      out += "#" + DecimalText(u);
      open = false;
      continue;
    }
    if (!open) out += "'";
    open = true;
    if (c == '\'')
      out += "''";
    else
      out += EncodeUtf8Text(AnsiToWide(std::string(1, c)));
  }
  if (open) out += "'";
  return out;
}

std::string KindName(SettingKind k) {
  return k == SettingKind::Boolean ? "boolean" : k == SettingKind::Integer ? "integer" : "text";
}

std::string ValueText(const TSettingsProperty& p, SettingKind as) {
  switch (as) {
    case SettingKind::Boolean: return p.boolValue ? "True" : "False";
    case SettingKind::Integer: return DecimalText(p.intValue);
    default: return Quoted(p.textValue);
  }
}

bool IsPassword(std::string_view name) { return name == "SmtpPassword" || name == "HttpPassword"; }

bool IsKnownExtra(std::string_view name) {
  if (name == "MinDebugInfo") return true;
  if (!StartsWith(name, "Assistant") || name.size() == 9) return false;
  for (char c : name.substr(9))
    if (c < '0' || c > '9') return false;
  return true;
}

const TSettingsProperty* Find(const PropertyList& list, std::string_view name) {
  for (const auto& p : list)
    if (p.name == name) return &p;
  return nullptr;
}

// Every stored setting must be one we know, of the kind its getter reads.
bool Validate(const PropertyList& list, std::string& error) {
  for (const auto& p : list) {
    const SettingDefault* d = FindSettingDefault(p.name);
    SettingKind want = d ? d->kind : SettingKind::Text;
    if (!d && !IsKnownExtra(p.name)) return error = "unknown setting '" + p.name + "'", false;
    if (p.kind != want)
      return error = "setting '" + p.name + "' is " + KindName(p.kind) + ", expected " + KindName(want), false;
  }
  return true;
}

int Build(const std::string& textFile, const std::string& outFile) {
  std::string text, binary, error;
  if (!ReadFileBytes(textFile, text, error)) return Fail(error);
  if (!fw::CompileComponentText(text, binary, error)) return Fail(textFile + ":" + error);
  PropertyList list;
  SetSettingsMessageHook(Quiet);
  bool parsed = ParseSettingsResource(binary, list, &error);
  SetSettingsMessageHook(nullptr);
  if (!parsed) return Fail(textFile + ": " + error);
  if (!Validate(list, error)) return Fail(textFile + ": " + error);
  if (!WriteFileBytes(outFile, binary, error)) return Fail(error);
  return 0;
}

int Dump(const std::string& file) {
  std::string bytes, resource, error;
  if (!ReadFileBytes(file, bytes, error)) return Fail(error);
  if (!ExtractSettingsResource(bytes, resource, error)) return Fail(file + ": " + error);
  PropertyList list;
  SetSettingsMessageHook(Quiet);
  bool parsed = ParseSettingsResource(resource, list, &error);
  SetSettingsMessageHook(nullptr);
  if (!parsed && list.empty()) return Fail(file + ": " + error);
  DecodeStoredPasswords(list);

  std::ostringstream out;
  auto line = [&](const std::string& name, const std::string& value, const char* origin) {
    out << PadText(name, -18) << " = " << PadText(value, -40) << " " << origin << "\n";
  };
  for (const auto& d : SettingDefaults()) {
    const TSettingsProperty* p = Find(list, d.name);
    if (p && IsPassword(d.name)) {
      line(d.name, p->textValue.empty() ? "''" : "<deciphered, " + DecimalText(p->textValue.size()) + " bytes>",
           "resource");
    } else if (p) {
      line(d.name, ValueText(*p, d.kind), "resource");
    } else {
      TSettingsProperty def;
      def.boolValue = d.boolValue, def.intValue = d.intValue, def.textValue = d.textValue;
      line(d.name, ValueText(def, d.kind), "default");
    }
  }
  for (const auto& p : list)
    if (!FindSettingDefault(p.name)) line(p.name, ValueText(p, p.kind), "resource");
  out << "\nassistants:\n";
  for (int i = 1;; ++i) {
    const TSettingsProperty* a = Find(list, "Assistant" + DecimalText(i));
    if (!a || a->textValue.empty()) break;
    std::string forms;
    for (int f = 3, n = FieldCount(a->textValue, '|'); f <= n; ++f)
      forms += (f > 3 ? ", " : "") + FieldOf(a->textValue, f, '|');
    out << "  " << FieldOf(a->textValue, 1, '|') << ": " << Quoted(FieldOf(a->textValue, 2, '|')) << " ("
        << forms << ")\n";
  }
  std::cout << out.str();
  if (!parsed) return Fail(file + ": " + error);
  return 0;
}

int RunSettings(const Args& a) {
  if (a.size() == 3 && a[0] == "build") return Build(a[1], a[2]);
  if (a.size() == 2 && a[0] == "dump") return Dump(a[1]);
  return UsageError("settings: expected 'build TEXT OUT' or 'dump FILE'");
}

RvxCommand cmd{"settings",
               "  rvx settings build TEXT OUT compile a readable settings record into its resource bytes\n"
               "  rvx settings dump FILE      show every setting of a resource file or a program's \"ZAVEDO\"",
               RunSettings};

}  // namespace
}  // namespace rvxtool
