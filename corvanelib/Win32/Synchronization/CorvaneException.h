// Exceptions of the support library. They are thrown by value and copied whole; catch them by
// reference. Only the lock classes throw them, when the platform refuses a mutex.
#pragma once

#include <cstdint>
#include <string>

namespace corvanelib {

// Message, source file and line of the throwing statement, all fixed at construction.
class CorvaneException {
public:
    CorvaneException(const char* message, const char* file, std::uint32_t line);
    CorvaneException(const CorvaneException&) = default;
    CorvaneException& operator=(const CorvaneException&) = default;

    // Name of the module that threw, as 8-bit text owned by the exception.
    virtual const char* GetModuleName() const = 0;
    virtual ~CorvaneException();

    const std::string& Message() const { return m_message; }
    const std::string& File() const { return m_file; }
    std::uint32_t Line() const { return m_line; }

private:
    std::string m_message;
    std::string m_file;
    std::uint32_t m_line;
};

// Anything thrown by the support library; its module name is "Corvane Common Lib".
class LibException : public CorvaneException {
public:
    LibException(const char* message, const char* file, std::uint32_t line);

    const char* GetModuleName() const override;

private:
    std::string m_moduleName;
};

// A lock the platform refused; carries the Windows error code of the refusal.
class CorvaneLibLockException : public LibException {
public:
    CorvaneLibLockException(std::uint32_t errorCode, const char* message, const char* file,
                            std::uint32_t line);

    std::uint32_t ErrorCode() const { return m_errorCode; }

private:
    std::uint32_t m_errorCode;
};

} // namespace corvanelib
