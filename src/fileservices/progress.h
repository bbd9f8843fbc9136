#pragma once

namespace archivon {

/// What the file services need of a progress bar: a single-precision range
/// and a value that is refused (false, value kept) outside that range.
class ProgressTarget
{
public:
    virtual ~ProgressTarget() = default;
    virtual float min() const = 0;
    virtual float max() const = 0;
    virtual float value() const = 0;
    /// Always takes effect, even when the value falls outside the new range.
    virtual void setMin(float min) = 0;
    virtual void setMax(float max) = 0;
    /// Refused when outside [min, max]: returns false and keeps the old value.
    virtual bool setValue(float value) = 0;
};

/// A progress range without a window, for code and tests that need no bar on screen.
class ProgressRange final : public ProgressTarget
{
public:
    float min() const override { return m_min; }
    float max() const override { return m_max; }
    float value() const override { return m_value; }
    void setMin(float min) override { m_min = min; }
    void setMax(float max) override { m_max = max; }
    bool setValue(float value) override
    {
        if (value < m_min || value > m_max)
            return false;
        m_value = value;
        return true;
    }

private:
    float m_min = 0;
    float m_max = 100;
    float m_value = 0;
};

} // namespace archivon
