// The console's web UI framework: a template document with "$$NAME$$"
// placeholders, the helper pages fill it through, and the document manager that
// routes a request to the page callback registered for its page ID.
#pragma once

#include "host_api.h"
#include "os_string.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class CCGIRequestData;

class TESSERA_HOST_API CHtmlDoc {
public:
    // With a path, the template is opened at once (see Open); null opens nothing.
    explicit CHtmlDoc(const wchar_t* template_path);
    virtual ~CHtmlDoc();

    CHtmlDoc(const CHtmlDoc&) = delete;
    CHtmlDoc& operator=(const CHtmlDoc&) = delete;

    // Loads a UTF-8 template (a byte order mark is skipped). The path is relative
    // to the web root (host configuration), with \ or / between names; folder and
    // file names match without regard to letter case. Returns 0 when loaded, and
    // non-zero for a missing or unreadable file, a file over the template size
    // limit, or a path that could leave the web root (".." segments, absolute
    // paths, drive letters, NUL characters, empty segments).
    int Open(const wchar_t* template_path);

    // Replaces every occurrence of `placeholder` in the template text by `text`,
    // unchanged. Text inserted by an earlier call is never searched again, so a
    // value that holds "$$NAME$$" stays as it is. Returns the number replaced.
    int SetField(const wchar_t* placeholder, const wchar_t* text);
    // The same, taking over `text`: a large value is not copied.
    int SetField(const wchar_t* placeholder, std::wstring&& text);

    // The filled page, NUL-terminated; null when no template was opened. Valid
    // until the next SetField or the document's end.
    const wchar_t* GetHtmlContent();

    // A template file as read once and kept while the file is unchanged.
    struct Template;

private:
    // A place of a placeholder in the template, and the value that takes it.
    struct Fill {
        std::size_t begin = 0;   // where the placeholder stands in the template's text
        std::size_t length = 0;  // of the placeholder
        std::size_t value = 0;   // in values_
    };
    // A value whose buffer became the filled page, and where it stands in it.
    struct TakenOver {
        std::size_t value = 0;
        std::size_t begin = 0;
        std::size_t length = 0;
    };
    bool Overlaps(std::size_t begin, std::size_t length) const;
    // Builds content_ in the buffer of the largest value filled in one place
    // when it has room for the whole page; false, changing nothing, when none has.
    bool FillInLargestValue(std::size_t total);
    std::shared_ptr<const Template> template_;
    std::vector<Fill> fills_;  // in template order; no two overlap
    std::vector<std::wstring> values_;
    std::optional<TakenOver> taken_over_;
    std::wstring content_;
    bool is_content_current_ = false;
};

class TESSERA_HOST_API CHtmlDocHelper {
public:
    explicit CHtmlDocHelper(CHtmlDoc* document);
    virtual ~CHtmlDocHelper();

    CHtmlDoc* GetDocument() const { return document_; }

    int SetField(const wchar_t* placeholder, const wchar_t* text);
    int SetField(const wchar_t* placeholder, std::wstring&& text);
    // Write "checked" for true and the empty text for false into the placeholder,
    // which stands inside an <input> tag.
    void SetChecked(const wchar_t* placeholder, bool is_checked);
    void Checked(OS::x_wstring placeholder, bool is_checked);

    // Escapes & < > " ' for markup, in place, and returns the same string.
    static OS::x_wstring& EscapeSpecialChar(OS::x_wstring& text);

private:
    CHtmlDoc* document_;
};

class TESSERA_HOST_API CHtmlDocmentManager {
public:
    class TESSERA_HOST_API CPageCallback {
    public:
        CPageCallback();
        virtual void operator()(const CCGIRequestData* request, CHtmlDoc* document) = 0;
        virtual ~CPageCallback();
    };

    CHtmlDocmentManager();
    // Neither deletes nor calls the registered callbacks.
    virtual ~CHtmlDocmentManager();

    // Keeps `callback` (not owned) for `page_id`, matched without regard to
    // letter case; a later registration of the same page ID replaces it.
    virtual bool RegisterPage(const wchar_t* page_id, CPageCallback* callback);
    // Calls the callback registered for the request's page ID once; nothing when none.
    virtual void ModifyContent(const CCGIRequestData* request, CHtmlDoc* document);

private:
    std::unordered_map<std::wstring, CPageCallback*> callbacks_;  // keyed by the A-Z-folded page ID
};
