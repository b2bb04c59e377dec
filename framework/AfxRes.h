// Framework command and string identifiers, usable in resource scripts too.
#pragma once

// The help command: raised when the user asks for help (F1); the application
// object handles it. Its string resource, when present, is the help text.
#define ID_HELP 0xE146

// The text shown when a message handler runs out of memory (see
// WndProcException.h).
#define AFX_IDP_FAILED_MEMORY_ALLOC 0xF106
