// tarlo-query's formats and encodings, byte for byte.
#include "platform/error.h"
#include "platform/text_encoding.h"
#include "workspace/result_writer.h"

#include <gtest/gtest.h>

using tarlo::OutputEncoding;
using tarlo::OutputField;
using tarlo::OutputFormat;

namespace {

// Fields with a comma, a quote, a line break, a TAB, a bar, Japanese text and a null.
QByteArray write(OutputFormat format, OutputEncoding encoding = OutputEncoding::Utf8, bool header = false) {
    tarlo::ResultWriter w(format, encoding, header);
    w.begin({"id", "名前", "note"});
    w.row({{OutputField::Number, "1"}, {OutputField::Text, "東京"}, {OutputField::Text, "a,b"}});
    w.row({{OutputField::Number, "1.5E+20"}, {OutputField::Text, "x\"y"}, {OutputField::Text, "l1\nl2"}});
    w.row({{OutputField::Number, "3"}, {OutputField::Null, ""}, {OutputField::Text, "\t|"}});
    return QByteArray::fromStdString(w.finish());
}

}  // namespace

TEST(ResultWriter, EachFormatByteForByte) {
    EXPECT_EQ(write(OutputFormat::Tsv), QByteArray("1\t東京\ta,b\n1.5E+20\tx\"y\tl1\nl2\n3\t\t\t|\n"));
    EXPECT_TRUE(write(OutputFormat::Tsv, OutputEncoding::Utf8, true).startsWith("id\t名前\tnote\n1\t"));
    EXPECT_EQ(write(OutputFormat::Csv),
              QByteArray("id,名前,note\r\n1,東京,\"a,b\"\r\n1.5E+20,\"x\"\"y\",\"l1\nl2\"\r\n3,,\t|\r\n"));
    EXPECT_EQ(write(OutputFormat::Json), QByteArray("[\n"
                                                    "  {\"id\": 1, \"名前\": \"東京\", \"note\": \"a,b\"},\n"
                                                    "  {\"id\": 1.5E+20, \"名前\": \"x\\\"y\", \"note\": \"l1\\nl2\"},\n"
                                                    "  {\"id\": 3, \"名前\": null, \"note\": \"\\t|\"}\n"
                                                    "]\n"));
    EXPECT_EQ(write(OutputFormat::Markdown), QByteArray("| id | 名前 | note |\n|---|---|---|\n| 1 | 東京 | a,b |\n"
                                                        "| 1.5E+20 | x\"y | l1<br>l2 |\n| 3 |  | \t\\| |\n"));
    tarlo::ResultWriter empty(OutputFormat::Json, OutputEncoding::Utf8, false);
    empty.begin({"a"});
    EXPECT_EQ(empty.finish(), "[]\n");
}

TEST(ResultWriter, EncodingsAndTheCharacterCp932CannotHold) {
    const QByteArray utf8 = write(OutputFormat::Csv);
    EXPECT_EQ(write(OutputFormat::Csv, OutputEncoding::Utf8WithBom), QByteArray("\xEF\xBB\xBF") + utf8);
    const QByteArray cp932 = write(OutputFormat::Csv, OutputEncoding::Cp932);
    EXPECT_EQ(cp932.left(8), QByteArray("id,\x96\xBC\x91\x4F,"));  // 名前 in CP932
    EXPECT_EQ(tarlo::decodeAs(cp932, tarlo::TextEncoding::Cp932), QString::fromUtf8(utf8));

    tarlo::ResultWriter w(OutputFormat::Csv, OutputEncoding::Cp932, false);
    w.begin({"a"});
    w.row({{OutputField::Text, "東京"}});
    try {
        w.row({{OutputField::Text, "café"}});
        ADD_FAILURE() << "no refusal";
    } catch (const tarlo::Error& e) {
        EXPECT_TRUE(e.message().contains("2 行目") && e.message().contains("\"é\"")) << e.message().toStdString();
    }
}

TEST(ResultWriter, JsonKeysAreUniqueWhereFieldNamesRepeat) {
    tarlo::ResultWriter w(OutputFormat::Json, OutputEncoding::Utf8, false);
    w.begin({"a", "a", "A", "a_1", "b"});
    w.row({{OutputField::Number, "1"}, {OutputField::Number, "2"}, {OutputField::Number, "3"},
           {OutputField::Number, "4"}, {OutputField::Number, "5"}});
    EXPECT_EQ(w.finish(), "[\n  {\"a\": 1, \"a_2\": 2, \"A_3\": 3, \"a_1\": 4, \"b\": 5}\n]\n");
    // The other formats show the names as the pane's header does.
    tarlo::ResultWriter csv(OutputFormat::Csv, OutputEncoding::Utf8, false);
    csv.begin({"a", "a"});
    EXPECT_EQ(csv.finish(), "a,a\r\n");
}
