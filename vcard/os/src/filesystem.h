// The file system: lookup of files by path, the current DF and EF of a logical
// channel, and the file commands (SELECT, READ/UPDATE BINARY, records, CREATE
// FILE, DELETE FILE, PUT DATA 01 6F).
#pragma once

#include "context.h"

namespace vexa::vcard {

FileNode* Resolve(CardState& st, const Path& path);
// The current DF of the command's channel; throws CardStatus 6A82 when the card
// has no file system (erased).
FileNode& CurrentDf(Context& ctx);
// The current EF; throws 6986 when none is selected.
FileNode& CurrentEf(Context& ctx);
// Finds a DF by name anywhere in the tree (depth first from the MF).
bool FindByName(FileNode& df, const Bytes& name, Path& path);

// Sum of the sizes of all EFs in the tree (the card's used memory).
uint32_t UsedMemory(const FileNode& df);

// Resets every channel whose current DF lies inside a deleted DF.
void ForgetDeleted(Context& ctx, const Path& deleted);

Bytes CmdSelect(Context& ctx, const Command& c);
Bytes CmdReadBinary(Context& ctx, const Command& c);
Bytes CmdUpdateBinary(Context& ctx, const Command& c);
Bytes CmdReadRecord(Context& ctx, const Command& c);
Bytes CmdUpdateRecord(Context& ctx, const Command& c);
Bytes CmdAppendRecord(Context& ctx, const Command& c);
Bytes CmdCreateFile(Context& ctx, const Command& c);
Bytes CmdDeleteFile(Context& ctx, const Command& c);
Bytes CmdPutDataFci(Context& ctx, const Command& c);

// Builds a file from a creation template (6F form on every version, 62 form on
// M4.10 and later). Throws CardStatus for a malformed template.
FileNode FileFromTemplate(const Context& ctx, const Bytes& tmpl);

}  // namespace vexa::vcard
