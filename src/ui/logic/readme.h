// The read-me text shown by the read-me dialog, built into the program.
#pragma once

constexpr int kReadMeLineCount = 156;
// kReadMeLineCount lines in order, then a null entry that ends the list.
extern const char* const ReadMeLines[kReadMeLineCount + 1];

// The author's addresses, as the About dialog and the read-me's credits give them.
constexpr char kAuthorEmail[] = "gleanor@example.org";
constexpr char kAuthorMailTo[] = "mailto:gleanor@example.org";
constexpr char kAuthorHomePage[] = "http://www.example.org/gleanor/";
