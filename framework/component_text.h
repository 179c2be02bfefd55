// The readable form of component streams, used in resources/ as the source of truth for forms, settings and
// assistant pages:
//
//   object Form1: TForm1
//     Left = 213
//     Caption = 'Form1'                       single quotes; '' is a quote; #13#10 character codes; + joins
//     Font.Name = 'Tahoma'
//     Options = [dgEditing, dgTitles]         set
//     Items = ('a' 'b')                       list
//     Data = {5C000000 9619E0BD}              binary, hexadecimal (blanks and line breaks ignored)
//     Columns = <item FieldName = 'ID' end>   collection
//     Ratio = 1.5                             floating point
//     object Child: TButton ... end           child objects, in stored order
//   end
//
// The file is UTF-8. Strings are stored as single-byte (Windows-1252) strings when every character fits that
// code page, otherwise as UTF-16 strings; integers take the smallest integer type that holds them.
#pragma once
#include <string>
#include <string_view>

#include "framework/component_stream.h"

namespace fw {

// Parses the readable form. On error returns false with "line N: message".
bool ParseComponentText(std::string_view text, ComponentNode& root, std::string& error);

// Parses and writes the binary stream.
bool CompileComponentText(std::string_view text, std::string& binary, std::string& error);

// The readable form of a node (inverse of ParseComponentText for every value it produces).
std::string ComponentToText(const ComponentNode& root);

}  // namespace fw
