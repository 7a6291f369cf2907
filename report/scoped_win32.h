// Scoped owners of Win32 resources: contexts, GDI objects and selections, text attributes, memory, files.
//
// Each acquire is paired with its release in one object, so that every way
// out of a function gives back what it took, in the reverse order of taking.
#pragma once

#include <windows.h>

// A device context made with CreateDCA or CreateCompatibleDC: DeleteDC.
class ScopedDc {
public:
    explicit ScopedDc(HDC dc) : dc_(dc) {}
    ~ScopedDc()
    {
        if (dc_)
            DeleteDC(dc_);
    }
    ScopedDc(const ScopedDc &) = delete;
    ScopedDc &operator=(const ScopedDc &) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

// A window's device context from GetDC (client area) or GetWindowDC (the
// whole window, frame included): ReleaseDC.
class ScopedWindowDc {
public:
    enum class Area { Client, WholeWindow };
    explicit ScopedWindowDc(HWND window, Area area = Area::Client)
        : window_(window), dc_(area == Area::Client ? GetDC(window) : GetWindowDC(window))
    {
    }
    ~ScopedWindowDc()
    {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    ScopedWindowDc(const ScopedWindowDc &) = delete;
    ScopedWindowDc &operator=(const ScopedWindowDc &) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// A pen, brush, font or bitmap of one's own: DeleteObject.
template <typename Handle> class ScopedGdiObject {
public:
    explicit ScopedGdiObject(Handle object) : object_(object) {}
    ~ScopedGdiObject()
    {
        if (object_)
            DeleteObject(object_);
    }
    ScopedGdiObject(const ScopedGdiObject &) = delete;
    ScopedGdiObject &operator=(const ScopedGdiObject &) = delete;
    Handle get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    Handle object_;
};

// An object selected into a context; the one it replaced goes back at the end
// (before the object itself may be deleted).
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~ScopedSelection()
    {
        if (previous_ && previous_ != HGDI_ERROR)
            SelectObject(dc_, previous_);
    }
    ScopedSelection(const ScopedSelection &) = delete;
    ScopedSelection &operator=(const ScopedSelection &) = delete;
    // False when the object could not be selected.
    explicit operator bool() const { return previous_ && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The context's text alignment, set for a while.
class ScopedTextAlign {
public:
    ScopedTextAlign(HDC dc, UINT align) : dc_(dc), previous_(SetTextAlign(dc, align)) {}
    ~ScopedTextAlign()
    {
        if (previous_ != GDI_ERROR)
            SetTextAlign(dc_, previous_);
    }
    ScopedTextAlign(const ScopedTextAlign &) = delete;
    ScopedTextAlign &operator=(const ScopedTextAlign &) = delete;

private:
    HDC dc_;
    UINT previous_;
};

// The context's background colour, set for a while.
class ScopedBkColour {
public:
    ScopedBkColour(HDC dc, COLORREF colour) : dc_(dc), previous_(SetBkColor(dc, colour)) {}
    ~ScopedBkColour()
    {
        if (previous_ != CLR_INVALID)
            SetBkColor(dc_, previous_);
    }
    ScopedBkColour(const ScopedBkColour &) = delete;
    ScopedBkColour &operator=(const ScopedBkColour &) = delete;

private:
    HDC dc_;
    COLORREF previous_;
};

// The context's clip region narrowed to a rectangle in logical units for a
// while; the region it had before, or none, comes back at the end. Nothing is
// clipped when the old region cannot be kept.
class ScopedClipRect {
public:
    ScopedClipRect(HDC dc, int left, int top, int right, int bottom) : dc_(dc), saved_(CreateRectRgn(0, 0, 0, 0))
    {
        if (!saved_)
            return;
        const int had = GetClipRgn(dc_, saved_);
        if (had < 0)
            return;
        hadRegion_ = had == 1;
        clipped_ = IntersectClipRect(dc_, left, top, right, bottom) != ERROR;
    }
    ~ScopedClipRect()
    {
        if (clipped_)
            SelectClipRgn(dc_, hadRegion_ ? saved_ : nullptr);
        if (saved_)
            DeleteObject(saved_);
    }
    ScopedClipRect(const ScopedClipRect &) = delete;
    ScopedClipRect &operator=(const ScopedClipRect &) = delete;

private:
    HDC dc_;
    HRGN saved_;
    bool hadRegion_ = false;
    bool clipped_ = false;
};

// A block from LocalAlloc: LocalFree.
class ScopedLocalMemory {
public:
    explicit ScopedLocalMemory(void *block) : block_(block) {}
    ~ScopedLocalMemory()
    {
        if (block_)
            LocalFree(block_);
    }
    ScopedLocalMemory(const ScopedLocalMemory &) = delete;
    ScopedLocalMemory &operator=(const ScopedLocalMemory &) = delete;
    void *get() const { return block_; }
    explicit operator bool() const { return block_ != nullptr; }

private:
    void *block_;
};

// A file handle from CreateFileA: CloseHandle. close() ends it early and says
// whether the system took the close, for callers that report a failed close.
class ScopedFile {
public:
    ScopedFile() = default;
    explicit ScopedFile(HANDLE file) : file_(file) {}
    ~ScopedFile() { close(); }
    ScopedFile(const ScopedFile &) = delete;
    ScopedFile &operator=(const ScopedFile &) = delete;
    HANDLE get() const { return file_; }
    bool isOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    // Takes over a handle; one held before is closed first.
    void reset(HANDLE file)
    {
        close();
        file_ = file;
    }
    bool close()
    {
        if (!isOpen())
            return true;
        const BOOL closed = CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};
