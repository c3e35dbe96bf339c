#pragma once

#include "form.h"

// An empty window of its own class, for tests that need "some other window".
template<int N>
class PlainForm : public forms::Form
{
public:
    explicit PlainForm(forms::Runtime &rt) : Form(rt, design()) { }
    static const forms::FormDesign &design()
    {
        static const forms::FormDesign d{.clientWidth = 1500, .clientHeight = 1500};
        return d;
    }
};
