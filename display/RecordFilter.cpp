#include "display/RecordFilter.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace rv8::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

enum class Quantity {
    Number,
    Record,
    Rate,
    Event,
    Freq,
    Period,
    Vpp,
    Min,
    Max,
    Mean,
    Rms,
    Duty,
    Rise,
    Fall,
    OverRange,
    Measured
};

struct ChannelName {
    std::string_view name;
    Quantity quantity;
};
constexpr ChannelName kChannelQuantities[] = {{"freq", Quantity::Freq},
                                              {"period", Quantity::Period},
                                              {"vpp", Quantity::Vpp},
                                              {"min", Quantity::Min},
                                              {"max", Quantity::Max},
                                              {"mean", Quantity::Mean},
                                              {"rms", Quantity::Rms},
                                              {"duty", Quantity::Duty},
                                              {"rise", Quantity::Rise},
                                              {"fall", Quantity::Fall},
                                              {"over_range", Quantity::OverRange},
                                              {"measured", Quantity::Measured}};

enum class Op { Less, LessEq, Greater, GreaterEq, Equal, NotEqual };

}  // namespace

struct RecordFilter::Node {
    enum class Kind { Or, And, Not, Compare, Truth } kind;
    std::size_t a = 0, b = 0;  // operands (node indices) of Or, And, Not
    // Compare: lhs op rhs; Truth: lhs alone (true when known and not 0).
    Quantity lhs = Quantity::Number, rhs = Quantity::Number;
    std::size_t lhsChannel = 0, rhsChannel = 0;  // 0-based
    double lhsNumber = 0, rhsNumber = 0;
    Op op = Op::Equal;
};

namespace {

using Node = RecordFilter::Node;

double ChannelValue(const ChannelReadings& c, Quantity q) {
    if (q == Quantity::Measured) return c.measured ? 1.0 : 0.0;
    if (!c.measured) return kNaN;
    switch (q) {
        case Quantity::Freq:
            return c.frequency;
        case Quantity::Period:
            return c.period;
        case Quantity::Vpp:
            return c.peakToPeak;
        case Quantity::Min:
            return c.min;
        case Quantity::Max:
            return c.max;
        case Quantity::Mean:
            return c.mean;
        case Quantity::Rms:
            return c.rms;
        case Quantity::Duty:
            return c.duty;
        case Quantity::Rise:
            return c.rise;
        case Quantity::Fall:
            return c.fall;
        case Quantity::OverRange:
            return c.overRange ? 1.0 : 0.0;
        default:
            return kNaN;
    }
}

double Value(const RecordFacts& f, Quantity q, std::size_t channel, double number) {
    switch (q) {
        case Quantity::Number:
            return number;
        case Quantity::Record:
            return f.record;
        case Quantity::Rate:
            return f.rate;
        case Quantity::Event:
            return f.eventMark;
        default:
            return channel < f.channelCount ? ChannelValue(f.channels[channel], q) : kNaN;
    }
}

bool Compare(double l, Op op, double r) {
    switch (op) {
        case Op::Less:
            return l < r;
        case Op::LessEq:
            return l <= r;
        case Op::Greater:
            return l > r;
        case Op::GreaterEq:
            return l >= r;
        case Op::Equal:
            return l == r;
        case Op::NotEqual:
            return l != r && l == l && r == r;  // unknown is never "not equal"
    }
    return false;
}

bool Evaluate(const std::vector<Node>& nodes, std::size_t i, const RecordFacts& f) {
    const Node& n = nodes[i];
    switch (n.kind) {
        case Node::Kind::Or:
            return Evaluate(nodes, n.a, f) || Evaluate(nodes, n.b, f);
        case Node::Kind::And:
            return Evaluate(nodes, n.a, f) && Evaluate(nodes, n.b, f);
        case Node::Kind::Not:
            return !Evaluate(nodes, n.a, f);
        case Node::Kind::Truth: {
            const double v = Value(f, n.lhs, n.lhsChannel, n.lhsNumber);
            return v == v && v != 0.0;
        }
        case Node::Kind::Compare:
            return Compare(Value(f, n.lhs, n.lhsChannel, n.lhsNumber), n.op,
                           Value(f, n.rhs, n.rhsChannel, n.rhsNumber));
    }
    return false;
}

// A recursive-descent parser over the text; the first mistake ends it.
class Parser {
  public:
    Parser(std::string_view text, std::vector<Node>& nodes) : s_(text), nodes_(nodes) {}

    bool parse(std::size_t& root) {
        if (!orExpr(root)) return false;
        skipSpace();
        if (at_ < s_.size()) return fail("unexpected '" + std::string(word()) + "'");
        return true;
    }
    const std::string& error() const { return error_; }
    std::size_t position() const { return errorAt_; }
    std::size_t highestChannel() const { return highestChannel_; }

  private:
    bool fail(std::string why) {
        if (error_.empty()) {
            error_ = std::move(why);
            errorAt_ = at_;
        }
        return false;
    }
    void skipSpace() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_])))
            ++at_;
    }
    static bool WordChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
    }
    // The word (or single character) at the current place, for messages.
    std::string_view word() const {
        std::size_t end = at_;
        while (end < s_.size() && WordChar(s_[end]))
            ++end;
        return s_.substr(at_, std::max<std::size_t>(end - at_, at_ < s_.size() ? 1 : 0));
    }
    bool keyword(std::string_view k, std::string_view symbol) {
        skipSpace();
        if (!symbol.empty() && s_.substr(at_, symbol.size()) == symbol &&
            (symbol != "!" || s_.substr(at_, 2) != "!=")) {
            at_ += symbol.size();
            return true;
        }
        if (s_.substr(at_, k.size()) == k &&
            (at_ + k.size() == s_.size() || !WordChar(s_[at_ + k.size()]))) {
            at_ += k.size();
            return true;
        }
        return false;
    }
    std::size_t add(Node n) {
        nodes_.push_back(n);
        return nodes_.size() - 1;
    }
    bool orExpr(std::size_t& out) {
        if (!andExpr(out)) return false;
        while (keyword("or", "||")) {
            std::size_t rhs = 0;
            if (!andExpr(rhs)) return false;
            out = add(Node{Node::Kind::Or, out, rhs});
        }
        return true;
    }
    bool andExpr(std::size_t& out) {
        if (!notExpr(out)) return false;
        while (keyword("and", "&&")) {
            std::size_t rhs = 0;
            if (!notExpr(rhs)) return false;
            out = add(Node{Node::Kind::And, out, rhs});
        }
        return true;
    }
    // Nesting (parentheses and `not`) deeper than this is refused rather than recursed into.
    static constexpr int kMaxDepth = 100;
    bool deeper() {
        if (++depth_ > kMaxDepth) return fail("nested deeper than 100 levels");
        return true;
    }
    bool notExpr(std::size_t& out) {
        if (keyword("not", "!")) {
            if (!deeper()) return false;
            std::size_t inner = 0;
            if (!notExpr(inner)) return false;
            --depth_;
            out = add(Node{Node::Kind::Not, inner});
            return true;
        }
        return primary(out);
    }
    bool primary(std::size_t& out) {
        skipSpace();
        if (at_ < s_.size() && s_[at_] == '(') {
            if (!deeper()) return false;
            ++at_;
            if (!orExpr(out)) return false;
            skipSpace();
            if (at_ >= s_.size() || s_[at_] != ')') return fail("expected ')'");
            ++at_;
            --depth_;
            return true;
        }
        Node n{Node::Kind::Truth};
        if (!operand(n.lhs, n.lhsChannel, n.lhsNumber)) return false;
        skipSpace();
        if (!comparison(n.op)) {
            if (n.lhs == Quantity::Number)
                return fail("expected a comparison operator (< <= > >= == !=)");
            out = add(n);
            return true;
        }
        n.kind = Node::Kind::Compare;
        if (!operand(n.rhs, n.rhsChannel, n.rhsNumber)) return false;
        out = add(n);
        return true;
    }
    bool comparison(Op& op) {
        static constexpr std::pair<std::string_view, Op> kOps[] = {
            {"<=", Op::LessEq}, {">=", Op::GreaterEq}, {"==", Op::Equal}, {"!=", Op::NotEqual},
            {"<", Op::Less},    {">", Op::Greater},    {"=", Op::Equal}};
        for (const auto& [text, o] : kOps) {
            if (s_.substr(at_, text.size()) == text) {
                at_ += text.size();
                op = o;
                return true;
            }
        }
        return false;
    }
    bool operand(Quantity& q, std::size_t& channel, double& number) {
        skipSpace();
        if (at_ >= s_.size()) return fail("expected a quantity or a number, found the end");
        const char c = s_[at_];
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+')
            return numberAt(q, number);
        if (!std::isalpha(static_cast<unsigned char>(c)))
            return fail("expected a quantity or a number, found '" + std::string(1, c) + "'");
        const std::string_view w = word();
        if (w == "record" || w == "rate" || w == "event") {
            q = w == "record" ? Quantity::Record : w == "rate" ? Quantity::Rate : Quantity::Event;
            at_ += w.size();
            return true;
        }
        // "chN." and a name: the channel number between "ch" and the dot.
        const std::size_t dot = w.find('.');
        uint32_t n = 0;
        const bool named = w.starts_with("ch") && dot != std::string_view::npos && dot > 2 &&
                           std::from_chars(w.data() + 2, w.data() + dot, n).ptr == w.data() + dot;
        if (!named || n < 1 || n > 65535) {
            return fail("unknown quantity '" + std::string(w) +
                        "' (record, rate, event or chN.freq, period, vpp, min, max, mean, rms, "
                        "duty, rise, fall, over_range, measured)");
        }
        const std::string_view name = w.substr(dot + 1);
        for (const ChannelName& k : kChannelQuantities) {
            if (k.name == name) {
                q = k.quantity;
                channel = n - 1;
                highestChannel_ = std::max<std::size_t>(highestChannel_, n);
                at_ += w.size();
                return true;
            }
        }
        at_ += dot + 1;
        return fail("unknown measurement '" + std::string(name) +
                    "' (freq, period, vpp, min, max, mean, rms, duty, rise, fall, over_range, "
                    "measured)");
    }
    bool numberAt(Quantity& q, double& number) {
        const char* begin = s_.data() + at_;
        const char* end = s_.data() + s_.size();
        const char* from = begin + (*begin == '+' ? 1 : 0);
        const auto r = std::from_chars(from, end, number);
        if (r.ec != std::errc() || !std::isfinite(number)) return fail("not a number");
        at_ = static_cast<std::size_t>(r.ptr - s_.data());
        static constexpr std::pair<char, double> kPrefixes[] = {
            {'p', 1e-12}, {'n', 1e-9}, {'u', 1e-6}, {'m', 1e-3},
            {'k', 1e3},   {'M', 1e6},  {'G', 1e9}};
        if (at_ < s_.size() && WordChar(s_[at_])) {
            bool prefixed = false;
            for (const auto& [p, factor] : kPrefixes) {
                if (s_[at_] == p && (at_ + 1 == s_.size() || !WordChar(s_[at_ + 1]))) {
                    number *= factor;
                    ++at_;
                    prefixed = true;
                    break;
                }
            }
            if (!prefixed) return fail("unexpected '" + std::string(word()) + "' after a number");
        }
        q = Quantity::Number;
        return true;
    }

    std::string_view s_;
    std::vector<Node>& nodes_;
    std::size_t at_ = 0;
    std::string error_;
    std::size_t errorAt_ = 0;
    std::size_t highestChannel_ = 0;
    int depth_ = 0;
};

}  // namespace

RecordFilter::~RecordFilter() = default;

std::unique_ptr<RecordFilter> RecordFilter::Parse(std::string_view text, std::string& error,
                                                  std::size_t& position) {
    std::unique_ptr<RecordFilter> f(new RecordFilter);
    Parser p(text, f->nodes_);
    std::size_t root = 0;
    if (!p.parse(root)) {
        error = p.error();
        position = p.position();
        return nullptr;
    }
    f->root_ = root;
    f->highestChannel_ = p.highestChannel();
    return f;
}

bool RecordFilter::matches(const RecordFacts& facts) const {
    return !nodes_.empty() && Evaluate(nodes_, root_, facts);
}

}  // namespace rv8::measure
