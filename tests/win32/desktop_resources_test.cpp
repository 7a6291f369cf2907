// The desktop resources of K614Mon.exe and k614ctl.exe read from the files as data (one well-formed manifest each,
// parsed and its elements checked; the program icon's five sizes), and the visual-styles common controls loaded in an
// exe that carries the program's manifest: this test exe, which links the program's resource script.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <msxml2.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// This test's own copy of the resource numbers.
constexpr WORD MANIFEST_TYPE = 24;
constexpr WORD MANIFEST_ID = 1;
constexpr WORD MAIN_ICON_ID = 213;
// The side-by-side folder of Common Controls 6 (lower case), under Windows and wine alike.
constexpr char VISUAL_STYLES_ASSEMBLY[] = "microsoft.windows.common-controls_6595b64144ccf1df_6.0.";
const std::vector<int> ICON_SIZES = {16, 24, 32, 48, 256};
constexpr BYTE PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G'};

constexpr wchar_t ASM_V1[] = L"urn:schemas-microsoft-com:asm.v1";
constexpr wchar_t ASM_V3[] = L"urn:schemas-microsoft-com:asm.v3";
constexpr wchar_t COMPATIBILITY[] = L"urn:schemas-microsoft-com:compatibility.v1";
constexpr wchar_t SETTINGS_2005[] = L"http://schemas.microsoft.com/SMI/2005/WindowsSettings";
constexpr wchar_t SETTINGS_2017[] = L"http://schemas.microsoft.com/SMI/2017/WindowsSettings";
constexpr wchar_t WINDOWS_7[] = L"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}";
constexpr wchar_t WINDOWS_10_AND_11[] = L"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}";
constexpr int SUPPORTED_OS_COUNT = 4; // 7, 8, 8.1, 10 and 11

// The executables under test are Linux files, reached through drive Z:.
std::string windowsPath(const char *path)
{
    return std::string("Z:") + path;
}

// An executable mapped as data only: its resources, none of its code.
class ExeResources {
public:
    explicit ExeResources(const std::string &path)
        : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~ExeResources()
    {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    ExeResources(const ExeResources &) = delete;
    ExeResources &operator=(const ExeResources &) = delete;

    bool loaded() const { return module_ != nullptr; }
    std::vector<std::string> data(LPCSTR type, LPCSTR name) const
    {
        HRSRC found = FindResourceA(module_, name, type);
        if (found == nullptr)
            return {};
        const auto *bytes = static_cast<const char *>(LockResource(LoadResource(module_, found)));
        return {std::string(bytes, SizeofResource(module_, found))};
    }
    std::vector<ULONG_PTR> names(LPCSTR type) const
    {
        std::vector<ULONG_PTR> found;
        EnumResourceNamesA(
            module_, type,
            [](HMODULE, LPCSTR, LPSTR name, LONG_PTR list) -> BOOL {
                reinterpret_cast<std::vector<ULONG_PTR> *>(list)->push_back(reinterpret_cast<ULONG_PTR>(name));
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&found));
        return found;
    }

private:
    HMODULE module_;
};

// Holds one COM reference and gives it back.
template <typename T> class ComRef {
public:
    ComRef() = default;
    ~ComRef()
    {
        if (p != nullptr)
            p->Release();
    }
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    T **out() { return &p; }
    T *operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
    T *p = nullptr;
};

class ScopedBstr {
public:
    explicit ScopedBstr(const std::wstring &text) : b(SysAllocStringLen(text.data(), text.size())) {}
    ScopedBstr() = default;
    ~ScopedBstr() { SysFreeString(b); }
    ScopedBstr(const ScopedBstr &) = delete;
    ScopedBstr &operator=(const ScopedBstr &) = delete;
    std::wstring text() const { return b != nullptr ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
    BSTR b = nullptr;
};

// One element found by name in the parsed manifest: its namespace, text and attributes.
struct Element {
    std::wstring namespaceUri;
    std::wstring text;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    std::wstring attribute(const wchar_t *name) const
    {
        for (const auto &[key, value] : attributes)
            if (key == name)
                return value;
        return L"(none)";
    }
};

// The manifest parsed by the system's XML parser; wellFormed() is false when it does not parse.
class ParsedManifest {
public:
    explicit ParsedManifest(const std::string &utf8)
    {
        CLSID parser;
        if (FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &parser)) ||
            FAILED(CoCreateInstance(parser, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                    reinterpret_cast<void **>(doc_.out()))))
            return;
        doc_->put_async(VARIANT_FALSE);
        // The bytes as a stream, so that the parser reads them in the encoding they declare.
        ComRef<IStream> stream;
        stream.p = SHCreateMemStream(reinterpret_cast<const BYTE *>(utf8.data()), static_cast<UINT>(utf8.size()));
        VARIANT source;
        VariantInit(&source);
        source.vt = VT_UNKNOWN;
        source.punkVal = stream.p;
        VARIANT_BOOL ok = VARIANT_FALSE;
        wellFormed_ = stream && SUCCEEDED(doc_->load(source, &ok)) && ok == VARIANT_TRUE;
    }
    bool wellFormed() const { return wellFormed_; }

    std::vector<Element> elements(const wchar_t *name) const
    {
        std::vector<Element> found;
        ComRef<IXMLDOMNodeList> list;
        ScopedBstr tag(name);
        if (!wellFormed_ || FAILED(doc_->getElementsByTagName(tag.b, list.out())) || !list)
            return found;
        long count = 0;
        list->get_length(&count);
        for (long i = 0; i < count; ++i) {
            ComRef<IXMLDOMNode> node;
            if (FAILED(list->get_item(i, node.out())) || !node)
                continue;
            Element e;
            ScopedBstr uri, text;
            node->get_namespaceURI(&uri.b);
            node->get_text(&text.b);
            e.namespaceUri = uri.text();
            e.text = text.text();
            ComRef<IXMLDOMNamedNodeMap> attributes;
            node->get_attributes(attributes.out());
            long attributeCount = 0;
            if (attributes)
                attributes->get_length(&attributeCount);
            for (long a = 0; a < attributeCount; ++a) {
                ComRef<IXMLDOMNode> attribute;
                // Wine's parser counts the namespace declarations among the
                // attributes but hands none of them out.
                if (FAILED(attributes->get_item(a, attribute.out())) || !attribute)
                    continue;
                ScopedBstr key;
                attribute->get_nodeName(&key.b);
                VARIANT value;
                VariantInit(&value);
                attribute->get_nodeValue(&value);
                e.attributes.emplace_back(key.text(), value.vt == VT_BSTR ? std::wstring(value.bstrVal) : L"");
                VariantClear(&value);
            }
            found.push_back(e);
        }
        return found;
    }

private:
    ComRef<IXMLDOMDocument> doc_;
    bool wellFormed_ = false;
};

class DesktopResources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

// One row per executable: what its manifest must and must not declare.
struct ManifestRow {
    const char *exe;
    bool visualStyles; // the program: common controls 6 and its DPI settings
};

TEST_F(DesktopResources, EachExeCarriesOneWellFormedManifestThatDeclaresItsRules)
{
    const ManifestRow rows[] = {{K614MON_EXE, true}, {K614CTL_EXE, false}};
    for (const ManifestRow &row : rows) {
        SCOPED_TRACE(row.exe);
        ExeResources exe(windowsPath(row.exe));
        ASSERT_TRUE(exe.loaded()) << "error " << GetLastError();
        EXPECT_EQ(exe.names(MAKEINTRESOURCEA(MANIFEST_TYPE)), std::vector<ULONG_PTR>{MANIFEST_ID})
            << "exactly one manifest, number 1";
        const std::vector<std::string> text = exe.data(MAKEINTRESOURCEA(MANIFEST_TYPE), MAKEINTRESOURCEA(MANIFEST_ID));
        ASSERT_EQ(text.size(), 1u);
        ParsedManifest manifest(text[0]);
        ASSERT_TRUE(manifest.wellFormed()) << text[0];

        const std::vector<Element> root = manifest.elements(L"assembly");
        ASSERT_EQ(root.size(), 1u);
        EXPECT_EQ(root[0].namespaceUri, ASM_V1);
        EXPECT_EQ(root[0].attribute(L"manifestVersion"), L"1.0");

        const std::vector<Element> level = manifest.elements(L"requestedExecutionLevel");
        ASSERT_EQ(level.size(), 1u);
        EXPECT_EQ(level[0].namespaceUri, ASM_V3);
        EXPECT_EQ(level[0].attribute(L"level"), L"asInvoker");
        EXPECT_EQ(level[0].attribute(L"uiAccess"), L"false");

        std::vector<std::wstring> systems;
        for (const Element &os : manifest.elements(L"supportedOS")) {
            EXPECT_EQ(os.namespaceUri, COMPATIBILITY);
            systems.push_back(os.attribute(L"Id"));
        }
        EXPECT_EQ(systems.size(), static_cast<std::size_t>(SUPPORTED_OS_COUNT));
        EXPECT_EQ(systems.front(), WINDOWS_7);
        EXPECT_EQ(systems.back(), WINDOWS_10_AND_11);

        EXPECT_TRUE(manifest.elements(L"longPathAware").empty()) << "paths are 256-character buffers";

        const std::vector<Element> controls = manifest.elements(L"assemblyIdentity");
        const std::vector<Element> dpiAware = manifest.elements(L"dpiAware");
        const std::vector<Element> gdiScaling = manifest.elements(L"gdiScaling");
        if (!row.visualStyles) {
            EXPECT_TRUE(controls.empty() && dpiAware.empty() && gdiScaling.empty()) << "a console tool";
            continue;
        }
        ASSERT_EQ(controls.size(), 1u);
        EXPECT_EQ(controls[0].attribute(L"name"), L"Microsoft.Windows.Common-Controls");
        EXPECT_EQ(controls[0].attribute(L"version"), L"6.0.0.0");
        EXPECT_EQ(controls[0].attribute(L"publicKeyToken"), L"6595b64144ccf1df");
        ASSERT_EQ(dpiAware.size(), 1u);
        EXPECT_EQ(dpiAware[0].namespaceUri, SETTINGS_2005);
        EXPECT_EQ(dpiAware[0].text, L"false") << "the layout is in pixels";
        ASSERT_EQ(gdiScaling.size(), 1u);
        EXPECT_EQ(gdiScaling[0].namespaceUri, SETTINGS_2017);
        EXPECT_EQ(gdiScaling[0].text, L"true");
    }
}

// Explorer, the taskbar and Alt-Tab each take the size they draw; the largest
// is stored as PNG, as Explorer reads it.
TEST_F(DesktopResources, ProgramIconHoldsFiveSizesWithTheLargestAsPng)
{
    ExeResources exe(windowsPath(K614MON_EXE));
    ASSERT_TRUE(exe.loaded()) << "error " << GetLastError();
    const std::vector<std::string> group = exe.data(RT_GROUP_ICON, MAKEINTRESOURCEA(MAIN_ICON_ID));
    ASSERT_EQ(group.size(), 1u);
    // The group: reserved, type, count (three words), then 14-byte entries
    // (width, height, colours, reserved, planes, bits, size, icon number).
    constexpr std::size_t HEADER = 6, ENTRY = 14, WIDTH_AT = 0, ICON_ID_AT = 12;
    const std::string &g = group[0];
    ASSERT_GE(g.size(), HEADER);
    const int count = static_cast<unsigned char>(g[4]) | static_cast<unsigned char>(g[5]) << 8;
    ASSERT_EQ(g.size(), HEADER + count * ENTRY);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const char *entry = g.data() + HEADER + i * ENTRY;
        const int width = static_cast<unsigned char>(entry[WIDTH_AT]);
        const WORD iconId = static_cast<unsigned char>(entry[ICON_ID_AT]) |
                            static_cast<unsigned char>(entry[ICON_ID_AT + 1]) << 8;
        sizes.push_back(width == 0 ? 256 : width); // a byte cannot hold 256
        const std::vector<std::string> image = exe.data(RT_ICON, MAKEINTRESOURCEA(iconId));
        ASSERT_EQ(image.size(), 1u) << "icon " << iconId;
        const bool png = image[0].compare(0, sizeof PNG_SIGNATURE, reinterpret_cast<const char *>(PNG_SIGNATURE),
                                          sizeof PNG_SIGNATURE) == 0;
        EXPECT_EQ(png, width == 0) << sizes.back() << " pixels";
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, ICON_SIZES);
}

// The manifest's dependency makes the loader bind comctl32 to the Common
// Controls 6 side-by-side assembly, whose controls draw with visual styles
// and take over the standard classes (a button then answers
// BCM_GETIDEALSIZE, which the old one ignores). Wine's copy in that assembly
// answers DllGetVersion with 5.81, as its plain one does: the version is
// printed, and the binding is checked by where the DLL came from and by what
// a new button answers.
TEST_F(DesktopResources, ManifestBringsTheVisualStylesCommonControls)
{
    InitCommonControls();
    HMODULE controls = GetModuleHandleA("comctl32.dll");
    ASSERT_NE(controls, nullptr);
    // Through a plain function pointer, the one cast from FARPROC the compiler takes without a word.
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(controls, "DllGetVersion")));
    ASSERT_NE(getVersion, nullptr);
    DLLVERSIONINFO version{};
    version.cbSize = sizeof version;
    ASSERT_EQ(getVersion(&version), S_OK);
    char file[MAX_PATH] = "";
    GetModuleFileNameA(controls, file, sizeof file);
    std::printf("[ figure ] comctl32 DllGetVersion %lu.%lu.%lu, from %s\n", version.dwMajorVersion,
                version.dwMinorVersion, version.dwBuildNumber, file);
    std::string path = file;
    CharLowerA(path.data());
    EXPECT_NE(path.find(VISUAL_STYLES_ASSEMBLY), std::string::npos) << file;

    HWND button = CreateWindowExA(0, "Button", "OK", WS_POPUP, 0, 0, 40, 20, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(button, nullptr);
    SIZE ideal{};
    EXPECT_TRUE(SendMessageA(button, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)))
        << "the button answers as the old controls do";
    DestroyWindow(button);
}

} // namespace
