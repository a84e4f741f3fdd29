// A look inside compound files (the container of Excel 97-2003 workbooks and of encrypted
// packages) for what every server must know before it works on one: whether it is encrypted.
#pragma once

#include <QString>

namespace corvane::automation {

// Whether `path` starts like a compound file.
bool isCompoundFile(const QString& path);

// Whether the compound file at `path` is an encrypted workbook: an encrypted package (an
// "EncryptedPackage" stream) or a binary workbook whose globals carry a FILEPASS record, whatever
// key it was encrypted with (a workbook encrypted with the default key opens without a password,
// yet saving it unencrypted would strip its protection). False for anything else, and for a
// compound file too damaged to tell.
bool compoundFileIsEncrypted(const QString& path);

} // namespace corvane::automation
