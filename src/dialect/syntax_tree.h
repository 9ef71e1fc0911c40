// The statement as it is read once: the tokens of one pass over the user's
// text, and a tree of them in which every node keeps the span of the user's
// text it was read from. Nodes, queries, FROM clauses and window
// definitions live in arrays of the tree and name each other by index, as a
// plan names its nodes; nothing in it points into the text but spans.
//
// Expressions follow the old engine's precedence, tightest first: ^, unary
// - + ~, * / %, \, Mod, + -, & || | << >>, the comparisons (= <> < > <= >=
// Like In Between Is), Not, And, Or, Xor, Eqv, Imp. A run of operators of
// one level is one Chain node, so a sum of a thousand terms is one node of
// a thousand operands, not a thousand levels.
#pragma once

#include "dialect/sql_lexer.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tarlo::syntax {

using NodeId = int32_t;
inline constexpr NodeId kNone = -1;

enum class NodeKind : uint8_t {
    Number,       // token: 12, 1.5, 1e3
    String,       // token: 'text' or "text" (the old engine's string)
    Date,         // token: #2024/01/31#
    Truth,        // token: True or False
    Null,         // token: Null
    Name,         // token: a column or select item's name; qualifier: its table or alias, or -1
    Star,         // * or qualifier.*
    Unary,        // token: - + ~ Not; left: the operand
    Chain,        // list: the operands; ops: the operator token before each operand after the first
    Between,      // left: the value; list: the two bounds; negated: Not Between
    In,           // left: the value; list: the values, or query: the subquery; negated
    Like,         // token: Like, Glob, Regexp or Match; left, right: the pattern; extra: Escape's; negated
    Is,           // left Is [Not] [Distinct From] right; negated; distinct
    NullTest,     // token: IsNull, NotNull or Null of Not Null; left; negated: it tests for a value
    Call,         // token: the function's name; list: arguments; distinct; star: f(*); extra: FILTER's condition;
                  // window: its OVER (...) definition, or windowName: OVER name
    Case,         // left: the value of a simple CASE, or kNone; list: WHEN and THEN in pairs; right: ELSE's, or kNone
    Cast,         // left: the value; typeTokens: the type's tokens [typeFrom, typeTo)
    Collate,      // left: the value; token: the collation's name
    Group,        // list: one expression in brackets
    Row,          // list: two or more expressions in brackets
    Subquery,     // query: a SELECT in brackets, as a value
    Exists,       // query
};

struct Node {
    NodeKind kind = NodeKind::Null;
    Span span;             // the whole node in the user's text
    int token = -1;        // see NodeKind
    int qualifier = -1;    // Name, Star: the table token before the "."
    bool negated = false;
    bool distinct = false;
    bool star = false;
    NodeId left = kNone, right = kNone, extra = kNone;
    std::vector<NodeId> list;
    std::vector<int> ops;  // Chain
    int query = -1;        // Subquery, Exists, In
    int window = -1;       // Call: into SyntaxTree::windows
    int windowName = -1;   // Call: OVER name's token
    int typeFrom = -1, typeTo = -1;  // Cast
};

struct OrderTerm {
    NodeId expr = kNone;
    bool descending = false;
    int nulls = 0;  // 0 as the engine sorts them; 1 NULLS FIRST; 2 NULLS LAST
    Span span;
};

// A window's definition: OVER ([base] [PARTITION BY ...] [ORDER BY ...] [frame]).
struct WindowSpec {
    int base = -1;  // the token of a named window it builds on
    std::vector<NodeId> partition;
    std::vector<OrderTerm> order;
    int frameFrom = -1, frameTo = -1;  // the frame's tokens, as written (ROWS BETWEEN ...)
    std::vector<NodeId> frameBounds;   // the expressions in it (n PRECEDING)
    Span span;
};

// A table, a subquery or a bracketed join group, with the name it is given.
struct FromItem {
    enum class Kind : uint8_t { Table, Subquery, Group };
    Kind kind = Kind::Table;
    // Table: the tokens of its name [nameFrom, nameTo): data#csv, [data.csv], data . csv,
    // or, for a file name with blanks in it, the rest of the statement.
    int nameFrom = -1, nameTo = -1;
    bool restOfStatement = false;  // the name with blanks
    int alias = -1;  // token
    int query = -1;  // Subquery
    int group = -1;  // Group: into SyntaxTree::froms
    Span span;
};

struct Join {
    enum class Kind : uint8_t { Comma, Inner, Left, Right, Full, Cross };
    Kind kind = Kind::Comma;
    bool natural = false;
    int word = -1;  // the JOIN or "," token
    FromItem item;
    NodeId on = kNone;
    std::vector<int> usingColumns;  // tokens
    Span span;
};

struct FromClause {
    FromItem first;
    std::vector<Join> joins;
    Span span;
};

struct ResultItem {
    NodeId expr = kNone;
    int alias = -1;  // token
    Span span;
};

struct SelectCore {
    Span span;
    int select = -1;           // the SELECT (or VALUES) token
    int quantifier = -1;       // ALL, DISTINCT or DISTINCTROW
    int top = -1;              // TOP's count token
    bool topPercent = false;
    std::vector<ResultItem> items;
    int from = -1;             // into SyntaxTree::froms
    NodeId where = kNone;
    std::vector<NodeId> groupBy;
    NodeId having = kNone;
    std::vector<std::pair<int, int>> windows;  // WINDOW name AS (...): the name's token, into SyntaxTree::windows
    std::vector<std::vector<NodeId>> values;   // VALUES (...), (...)
};

struct CommonTable {
    int name = -1;  // token
    std::vector<int> columns;
    int query = -1;
    Span span;
};

// WITH ...; SELECT ... [UNION [ALL] | INTERSECT | EXCEPT SELECT ...]... [ORDER BY] [LIMIT [OFFSET]].
struct Query {
    Span span;
    bool recursive = false;
    std::vector<CommonTable> with;
    std::vector<SelectCore> cores;
    std::vector<int> compounds;  // before each core after the first: UNION, INTERSECT or EXCEPT's token
    std::vector<bool> compoundAll;
    std::vector<OrderTerm> order;
    NodeId limit = kNone, offset = kNone;
};

// TRANSFORM value SELECT ... PIVOT pivot [IN (list)].
struct Transform {
    NodeId value = kNone;
    int alias = -1;
    int pivotWord = -1;     // PIVOT's token
    NodeId pivot = kNone;   // kNone when the statement ends without one
    bool hasList = false;
    std::vector<NodeId> list;
    Span span;
};

struct SyntaxTree {
    std::vector<Token> tokens;  // every token of the one pass, spaces and comments too
    std::vector<Node> nodes;
    std::vector<Query> queries;
    std::vector<FromClause> froms;
    std::vector<WindowSpec> windows;
    int root = -1;  // the statement's query; -1 when it has none (blanks, comments)
    bool explain = false;  // EXPLAIN [QUERY PLAN] before it
    std::optional<Transform> transform;
    // Where the statement ends: its ";", or the text's end.
    qsizetype end = 0;

    const Node& node(NodeId id) const { return nodes[size_t(id)]; }
    const Token& token(int i) const { return tokens[size_t(i)]; }
};

}  // namespace tarlo::syntax
