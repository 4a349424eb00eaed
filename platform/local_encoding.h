#pragma once

// The local 8-bit encoding: how file names, the GCI file's texts and the log
// lines are turned into bytes and back.

#include <QByteArray>
#include <QString>

// Makes the local 8-bit encoding that of the process's locale, which the
// application object has set from the environment. Qt built with ICU takes
// UTF-8 on Unix whatever the locale says, so a Latin-1 locale would get
// UTF-8 texts; here the locale's own character set decides. The C locale,
// whose character set is plain ASCII, keeps UTF-8 so that no character is
// lost. Where the encoding is UTF-8, bytes that are not valid UTF-8 are kept
// as they are: a file name given in such bytes is opened, and its output
// named, by the same bytes. Does nothing on Windows, where the ANSI code page
// is the local encoding and file names are UTF-16.
void useLocaleEncoding();

// UTF-8 that keeps every byte: each byte of `bytes` that is not part of a
// valid UTF-8 sequence (overlong forms, surrogates and values beyond
// U+10FFFF are not valid) becomes the lone surrogate U+DC00 plus the byte,
// U+DC80..U+DCFF.
QString decodeKeepingBytes(const QByteArray& bytes);

// The inverse of decodeKeepingBytes: a lone U+DC80..U+DCFF is written as its
// byte, everything else as UTF-8 (another lone surrogate as '?').
QByteArray encodeKeepingBytes(const QString& text);
