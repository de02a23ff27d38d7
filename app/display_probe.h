// Whether an X display answers, asked before the GUI toolkit starts: the
// toolkit aborts the process when DISPLAY names a server that is not there
// (an ssh session without forwarding, a stale variable), and a user should
// get a one-line message instead.
#pragma once

// True when a connection to the X server named by `pszDisplay` (the DISPLAY
// syntax, e.g. ":0" or "host:10.0") can be made and is free of errors. The
// X client library is loaded at run time, only for this question; when it
// cannot be loaded the answer is true and the toolkit speaks for itself.
bool XDisplayAnswers(const char* pszDisplay);
