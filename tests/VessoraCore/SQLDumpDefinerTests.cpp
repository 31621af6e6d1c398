// The DEFINER clauses real producers write, found in a statement's bytes;
// only what is certainly such a clause is left out.
#include "VessoraCore/Import/SQLDumpDefiner.hpp"
#include "tests/Support/SQLDumpReference.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vessora {
namespace {

// The statement with its clause blanked, or as it is.
std::string withoutClause(std::string head) {
    if (const auto span = SQLDumpDefiner::find(head))
        SQLDumpDefiner::blank(head.data() + span->begin, span->end - span->begin);
    return head;
}

TEST(SQLDumpDefinerTest, TheProducersClausesAreLeftOutAndEverythingElseStays) {
    // Each head, and the clause left out of it (none: it stays as written).
    const std::vector<std::pair<std::string, std::string>> cases{
        // mariadb-dump: trigger, view, event, routine.
        {"/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER t",
         "DEFINER=`root`@`localhost`"},
        {"/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=`shop`@`%` SQL SECURITY "
         "DEFINER */\n/*!50001 VIEW `v`",
         "DEFINER=`shop`@`%`"},
        {"/*!50106 CREATE*/ /*!50117 DEFINER=`a``b`@`h`*/ /*!50106 EVENT `e`",
         "DEFINER=`a``b`@`h`"},
        {"CREATE DEFINER=`root`@`localhost` PROCEDURE `p`()", "DEFINER=`root`@`localhost`"},
        // --skip-quote-names, phpMyAdmin and hand-written forms.
        {"CREATE DEFINER=shop_app@`%` FUNCTION f()", "DEFINER=shop_app@`%`"},
        {"CREATE DEFINER=root@localhost PROCEDURE p()", "DEFINER=root@localhost"},
        {"CREATE OR REPLACE ALGORITHM = MERGE DEFINER = 'u' @ \"h\" SQL SECURITY INVOKER VIEW v",
         "DEFINER = 'u' @ \"h\""},
        {"create definer=`x`@\n`y`\ntrigger t", "definer=`x`@\n`y`"},
        {"CREATE -- note\n DEFINER=`x`@`y` EVENT e", "DEFINER=`x`@`y`"},
        // Left as written: the loading account, or a reading not certain.
        {"CREATE DEFINER=CURRENT_USER PROCEDURE p()", ""},
        {"CREATE DEFINER=CURRENT_USER() TRIGGER t", ""},
        {"CREATE DEFINER=root@127.0.0.1 PROCEDURE p()", ""},
        {"CREATE DEFINER='it\\'s'@'h' PROCEDURE p()", ""},
        {"CREATE DEFINER=`x`@`y`", ""},
        {"CREATE TABLE definer (a INT)", ""},
        {"SELECT 'CREATE DEFINER=`x`@`y` VIEW v'", ""},
        {"CREATE /* DEFINER=`x`@`y` */ VIEW v AS SELECT 1", ""},
        {"CREATE VIEW v AS SELECT 1 AS DEFINER", ""},
    };
    for (const auto& [head, clause] : cases) {
        std::string expected = head;
        if (!clause.empty()) {
            const std::size_t at = expected.find(clause);
            ASSERT_NE(at, std::string::npos);
            for (std::size_t i = at; i < at + clause.size(); ++i)
                expected[i] = expected[i] == '\n' ? '\n' : ' ';
        }
        EXPECT_EQ(withoutClause(head), expected) << head;
    }
}

// A statement whose clause lies across the scanner's window, or already
// written when the statement ends, is blanked as one in the window.
TEST(SQLDumpDefinerTest, TheClauseIsLeftOutWhereverTheWindowCutsTheStatement) {
    for (std::size_t pad = 2000; pad < 2100; pad += 7) {
        const std::string dump = "SELECT '" + std::string(pad, 'x') +
                                 "';\nDELIMITER ;;\nCREATE DEFINER=`root`@`localhost` PROCEDURE "
                                 "p() BEGIN SELECT '" +
                                 std::string(3000, 'y') + "'; END;;\nDELIMITER ;\n";
        for (const std::size_t window :
             {std::size_t(2048), std::size_t(2100), std::size_t(1) << 20}) {
            const SQLDumpTesting::Prepared prepared = SQLDumpTesting::scanned(dump, "t", window);
            EXPECT_EQ(prepared.error, "");
            EXPECT_EQ(prepared.output, SQLDumpTesting::withoutDefiners(dump))
                << pad << " " << window;
        }
    }
    // A clause the first window of its statement does not reach.
    for (std::size_t blanks = 1500; blanks < 3600; blanks += 300) {
        const std::string dump = "SELECT 1;\nCREATE" + std::string(blanks, ' ') +
                                 "DEFINER=`root`@`localhost` PROCEDURE p() SELECT '" +
                                 std::string(3000, 'y') + "';\n";
        for (const std::size_t window : {std::size_t(2048), std::size_t(2541)}) {
            const SQLDumpTesting::Prepared prepared = SQLDumpTesting::scanned(dump, "t", window);
            EXPECT_EQ(prepared.error, "");
            EXPECT_EQ(prepared.output, SQLDumpTesting::withoutDefiners(dump))
                << blanks << " " << window;
        }
    }
}

} // namespace
} // namespace vessora
