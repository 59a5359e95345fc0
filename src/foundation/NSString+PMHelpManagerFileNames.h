// File names made safe before files are created, moved or renamed, and free paths for
// new files.
#pragma once

#include <QtCore/QString>

// The text made safe as one file name: line breaks and tabs, "*" and ":" become blanks,
// "/" becomes "|", leading and trailing dots go, blanks are trimmed and collapsed, NUL
// characters are removed, and a name longer than 255 bytes of UTF-8 (the Linux limit) is
// shortened at a character boundary, keeping its extension. May be empty.
QString cleanFilename(const QString& name);

// A path at which nothing exists yet for a file wanted at `path`: the path itself when it
// is free; the file's `currentPath` when the file is already there (`getIsMatch` then
// YES); otherwise the first free "<base> <n>.<extension>" for n = 1, 2, ... The empty text
// when no free path is found.
QString availablePathWithCurrentPath(const QString& path, const QString& currentPath, bool* getIsMatch);
QString availablePath(const QString& path);
