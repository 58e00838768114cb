// The stand-in SFMpq.dll's client, linked into the test, bound as the
// plug-in's archive library: the plug-in's code and the client's then share
// this process's one table of system calls.
#pragma once

// Binds every entry point of ArchiveLibrary to the client's operation of the
// same purpose.
void BindInProcessLibrary();

// Unbinds them again, ending every handle and update still open.
void UnbindInProcessLibrary();
