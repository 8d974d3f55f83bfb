// The checked bytes of a WMA file as a COM stream of their own, which the
// platform's reader reads instead of the file: nothing past the end that the
// structure check gives can be read through it.
#pragma once
#include <windows.h>
#include <objidl.h>

// Opens the file for reading (others may read it, no one may write it while
// it is open), checks its structure and gives the stream: S_OK,
// HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) for a file that fails the check, or the
// error of opening or reading the file.
HRESULT OpenCheckedAsf(const wchar_t* path, IStream** stream);
// Whether a read of such a stream failed or came short of the checked bytes
// (the file was cut, removed or could not be read since it was checked).
bool CheckedAsfFailed(IStream* stream);
// Lets go of the file under such a stream: at once, or as soon as a read of it
// that is under way ends. Nothing more is read: the stream ends there.
void CloseCheckedAsf(IStream* stream);
