// The wizard pages, their shared frame and the main dialog.
#pragma once
#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK SourcePageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK FilesPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DspPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK EncoderPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ProcessingPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK OptionsDialogProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK LinkLabelProc(HWND, UINT, WPARAM, LPARAM);

// Frame shared by the pages.
HBRUSH CreatePageBrush(HWND window);
// Answers the colour messages of a page; returns TRUE with *result set when handled.
bool PageColorMessage(HWND page, HBRUSH brush, UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result);
// Deletes *brush when there is one and clears it.
void DeletePageBrush(HBRUSH* brush);
// The frame part of a page's procedure: makes *brush on WM_INITDIALOG, answers the
// colour messages with it and deletes it on WM_DESTROY. Returns TRUE with *result set
// when the message is answered; WM_INITDIALOG and WM_DESTROY still go on to the page.
bool PageFrameMessage(HWND page, HBRUSH* brush, UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result);
void ResetPages();

// Runs the whole program on the calling thread (the body of WinMain) and returns its exit code.
int HostMain(HINSTANCE instance);

// Files page.
void AddFileToList(const char* path, int inputIndex);
int ScanFolder(const char* folder);
DWORD WINAPI ScanFolderThread(LPVOID folder);
// First input module accepting path, or -1.
int FindInputOwner(const char* path);
// Number of folder scans still running.
int ActiveFolderScans();
// Starts a scan thread for folder (a heap copy is made); returns false when it could not start.
bool StartFolderScan(const char* folder);

// DSP chain.
int ParseDspChain(const char* text);
int BuildDspChain(HWND dspPage);

// Options / end of batch.
struct EngineRunSummary;
int ExitSystem(int flags);
// The "When done" action; a summary with failures is told to the user first
// (NULL: a run without failures).
void PerformWhenDone(const EngineRunSummary* summary = nullptr);
// Text of the message box that tells what a run could not do.
void RunFailureText(const EngineRunSummary& summary, char* buf, int size);
// The main window's own title: display name and version.
void ShowProgramTitle();
int ShowOptionsDialog(HWND parent);

// Encoder page helpers (also used by tests).
// Reads "%d:%d:%d" as s, m:s or h:m:s; false when there is no number or the value overflows.
bool ParseTimeLimit(const char* text, int* seconds);
// Hours are not wrapped, so every value read back by ParseTimeLimit is the same.
void FormatTimeLimit(int seconds, char* buf, int size);

// Starts the worker on "&Encode" (engine binding).
HANDLE StartEngineWorker(bool files);
