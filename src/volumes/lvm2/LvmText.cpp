#include "volumes/lvm2/LvmText.h"

#include <cctype>
#include <limits>

namespace ondrel {

namespace {
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxNodes = 1u << 20;

class Parser {
public:
    explicit Parser(std::string_view text) : t_(text) {}

    bool parseFile(LvmNode& root, std::string& message) {
        root = {};
        const bool ok = entries(root, 0, false);
        if (!ok) message = error_ + " (at byte " + std::to_string(at_) + ")";
        return ok;
    }

private:
    bool fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }

    void skipSpace() {
        while (at_ < t_.size()) {
            const char c = t_[at_];
            if (c == '#') {
                while (at_ < t_.size() && t_[at_] != '\n') ++at_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++at_;
            } else {
                break;
            }
        }
    }

    static bool nameChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '+' || c == '-';
    }

    bool countNode() { return ++nodes_ <= kMaxNodes || fail("too many entries"); }

    // Entries until the end of the text (top level) or the closing brace.
    bool entries(LvmNode& section, int depth, bool braced) {
        for (;;) {
            skipSpace();
            if (at_ >= t_.size()) return !braced || fail("a section is not closed");
            if (t_[at_] == '}') {
                if (!braced) return fail("a '}' closes no section");
                ++at_;
                return true;
            }
            std::size_t start = at_;
            while (at_ < t_.size() && nameChar(t_[at_])) ++at_;
            if (at_ == start) return fail("a name is expected");
            LvmNode node;
            node.name.assign(t_.substr(start, at_ - start));
            skipSpace();
            if (at_ >= t_.size()) return fail("the text ends after a name");
            if (!countNode()) return false;
            if (t_[at_] == '{') {
                if (depth + 1 > kMaxDepth) return fail("sections are nested too deep");
                ++at_;
                node.kind = LvmNode::Kind::Section;
                if (!entries(node, depth + 1, true)) return false;
            } else if (t_[at_] == '=') {
                ++at_;
                if (!value(node, depth)) return false;
            } else {
                return fail("'=' or '{' is expected after \"" + node.name + "\"");
            }
            section.items.push_back(std::move(node));
        }
    }

    bool value(LvmNode& node, int depth) {
        skipSpace();
        if (at_ >= t_.size()) return fail("a value is expected");
        const char c = t_[at_];
        if (c == '"') return string(node);
        if (c == '[') {
            if (depth + 1 > kMaxDepth) return fail("arrays are nested too deep");
            ++at_;
            node.kind = LvmNode::Kind::Array;
            for (bool first = true;; first = false) {
                skipSpace();
                if (at_ < t_.size() && t_[at_] == ']') {
                    ++at_;
                    return true;
                }
                if (!first) {
                    if (at_ >= t_.size() || t_[at_] != ',') return fail("',' or ']' is expected in an array");
                    ++at_;
                    skipSpace();
                }
                LvmNode element;
                if (!countNode() || !value(element, depth + 1)) return false;
                node.items.push_back(std::move(element));
            }
        }
        return number(node);
    }

    bool string(LvmNode& node) {
        ++at_;  // the opening quote
        node.kind = LvmNode::Kind::String;
        while (at_ < t_.size() && t_[at_] != '"') {
            if (t_[at_] == '\\' && at_ + 1 < t_.size()) ++at_;
            node.text.push_back(t_[at_++]);
        }
        if (at_ >= t_.size()) return fail("a string is not closed");
        ++at_;
        return true;
    }

    bool number(LvmNode& node) {
        node.kind = LvmNode::Kind::Number;
        bool negative = false;
        if (t_[at_] == '-') {
            negative = true;
            ++at_;
        }
        std::size_t start = at_;
        std::uint64_t v = 0;
        while (at_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[at_]))) {
            const unsigned d = static_cast<unsigned>(t_[at_++] - '0');
            if (v > (static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - d) / 10)
                return fail("a number is too large");
            v = v * 10 + d;
        }
        if (at_ == start) return fail("a value is expected");
        // A fraction (LVM writes none that matter here) is read and set aside.
        if (at_ < t_.size() && t_[at_] == '.') {
            ++at_;
            while (at_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[at_]))) ++at_;
        }
        node.number = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
        return true;
    }

    std::string_view t_;
    std::size_t at_ = 0, nodes_ = 0;
    std::string error_;
};
}  // namespace

const LvmNode* LvmNode::child(std::string_view key) const {
    for (const LvmNode& n : items)
        if (n.name == key) return &n;
    return nullptr;
}

std::int64_t LvmNode::numberOf(std::string_view key, std::int64_t fallback) const {
    const LvmNode* n = child(key);
    return n && n->kind == Kind::Number ? n->number : fallback;
}

std::string LvmNode::stringOf(std::string_view key) const {
    const LvmNode* n = child(key);
    return n && n->kind == Kind::String ? n->text : std::string();
}

bool parseLvmText(std::string_view text, LvmNode& root, std::string& message) {
    Parser p(text);
    return p.parseFile(root, message);
}

}  // namespace ondrel
