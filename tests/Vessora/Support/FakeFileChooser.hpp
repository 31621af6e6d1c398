// A chooser for tests: it keeps each request and its answer callback, so a
// test answers (or cancels) when it likes and no dialog ever opens. Install
// it with FileChooser::setCurrent() and remove it at the end of the test.
#pragma once

#include "Vessora/App/FileChooser.hpp"

#include <stdexcept>
#include <vector>

namespace vessora {

class FakeFileChooser : public FileChooser {
public:
    struct Request {
        bool folder = true;
        QString title;
        QString prompt;
        std::optional<std::filesystem::path> start;
        QStringList nameFilters;
        Answer answer;
    };

    void chooseFolder(QWidget*, const QString& title,
                      const std::optional<std::filesystem::path>& start, Answer answer,
                      const QString& prompt) override {
        requests.push_back({true, title, prompt, start, {}, std::move(answer)});
    }
    void chooseFile(QWidget*, const QString& title, const QStringList& nameFilters,
                    const std::optional<std::filesystem::path>& start, Answer answer) override {
        requests.push_back({false, title, {}, start, nameFilters, std::move(answer)});
    }

    // Answers the oldest open request; none cancels it.
    void answer(std::optional<std::filesystem::path> chosen) {
        if (requests.empty())
            throw std::logic_error("No chooser is open.");
        auto request = std::move(requests.front());
        requests.erase(requests.begin());
        request.answer(std::move(chosen));
    }

    std::vector<Request> requests;
};

} // namespace vessora
