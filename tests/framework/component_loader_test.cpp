#include <gtest/gtest.h>

#include "framework/component.h"
#include "framework/component_text.h"
#include "framework/exceptions.h"
#include "framework/graphics.h"

using namespace fw;

namespace {

// A tiny component tree: a root form with a font, children with a reference, an event and a parent.
class TWidget : public TComponent {
 public:
  using TComponent::TComponent;
  int left = 0;
  std::string caption;
  TWidget* buddy = nullptr;
  TComponent* parent = nullptr;
  Method onClick;
  std::vector<std::string> log;
  bool ReadProperty(std::string_view name, const Value& v, TReader& r) override {
    if (name == "Left") left = static_cast<int>(IntegerValue(v));
    else if (name == "Caption") caption = StringValue(v);
    else if (name == "Buddy") {
      std::string target = v.text;
      r.AddFixup([this, target, &r] { buddy = dynamic_cast<TWidget*>(r.FindComponent(target)); });
    } else if (name == "OnClick") {
      const Method* m = r.Root()->FindMethod(v.text);
      if (!m) throw EReadError("method " + v.text + " not found");
      onClick = *m;
    } else return TComponent::ReadProperty(name, v, r);
    return true;
  }
  void SetParentComponent(TComponent* p) override { parent = p; }
  void Loaded() override {
    TComponent::Loaded();
    loadedWithBuddy = buddy != nullptr;
  }
  bool loadedWithBuddy = false;
};

class TRootForm : public TComponent {
 public:
  TRootForm() : TComponent(nullptr) {}
  TFont font;
  int clicks = 0;
  TWidget* First = nullptr;
  std::vector<std::string> loadOrder;
  Method click = [this](TComponent*) { ++clicks; };
  TPersistent* SubObject(std::string_view n) override { return n == "Font" ? &font : nullptr; }
  const Method* FindMethod(std::string_view name) const override { return name == "Clicked" ? &click : nullptr; }
  void BindField(std::string_view name, TComponent* c) override {
    loadOrder.emplace_back(name);
    if (name == "First") First = dynamic_cast<TWidget*>(c);
  }
};

ClassRegistration<TWidget> reg("TWidget");

ComponentNode Parse(const char* text) {
  ComponentNode n;
  std::string error;
  EXPECT_TRUE(ParseComponentText(text, n, error)) << error;
  return n;
}

}  // namespace

TEST(ComponentLoader, CreatesChildrenInStoredOrderWithPropertiesReferencesAndEvents) {
  TRootForm root;
  LoadComponent(&root, Parse(R"(object Main: TRootForm
  Font.Name = 'Tahoma'
  Font.Height = -11
  Font.Style = [fsBold]
  object First: TWidget
    Left = 8
    Caption = 'Insert'
    Buddy = Second
    OnClick = Clicked
    object Inner: TWidget
    end
  end
  object Second: TWidget
  end
end)"));
  EXPECT_EQ(root.Name(), "Main");
  EXPECT_EQ(root.font.Name(), "Tahoma");
  EXPECT_EQ(root.font.Height(), -11);
  EXPECT_EQ(root.font.Style(), fsBold);
  EXPECT_EQ(root.loadOrder, (std::vector<std::string>{"First", "Inner", "Second"}));
  ASSERT_NE(root.First, nullptr);
  EXPECT_EQ(root.First->left, 8);
  EXPECT_EQ(root.First->caption, "Insert");
  EXPECT_EQ(root.First->buddy, root.FindComponent("second"));  // names ignore case
  EXPECT_TRUE(root.First->loadedWithBuddy);  // fix-ups run before Loaded
  EXPECT_EQ(root.First->parent, &root);
  EXPECT_EQ(static_cast<TWidget*>(root.FindComponent("Inner"))->parent, root.First);
  EXPECT_EQ(root.FindComponent("Inner")->Owner(), &root);
  root.First->onClick(root.First);
  EXPECT_EQ(root.clicks, 1);
  EXPECT_FALSE(root.First->Loading());
}

TEST(ComponentLoader, RefusesUnknownClassesPropertiesAndValues) {
  {
    TRootForm root;
    EXPECT_THROW(LoadComponent(&root, Parse("object M: T\n object X: TNoSuchClass\n end\nend")), EReadError);
  }
  {
    TRootForm root;
    try {
      LoadComponent(&root, Parse("object M: T\n object X: TWidget\n  Bogus = 1\n end\nend"));
      FAIL();
    } catch (const EReadError& e) {
      EXPECT_NE(e.Message().find("Property Bogus does not exist"), std::string::npos);
    }
  }
  {
    TRootForm root;
    EXPECT_THROW(LoadComponent(&root, Parse("object M: T\n object X: TWidget\n  Left = 'x'\n end\nend")), EReadError);
  }
  {
    TRootForm root;
    EXPECT_THROW(LoadComponent(&root, Parse("object M: T\n object X: TWidget\n  OnClick = Nope\n end\nend")), EReadError);
  }
  {
    TRootForm root;
    EXPECT_THROW(LoadComponent(&root, Parse("object M: T\n Font.Color = clNoSuchColour\nend")), EReadError);
  }
}

TEST(ComponentLoader, OwnerFreesChildrenAndFreeNotificationDropsReferences) {
  struct Watcher : TComponent {
    using TComponent::TComponent;
    TComponent* watched = nullptr;
    void Notification(TComponent* c, Operation op) override {
      if (op == Operation::Remove && c == watched) watched = nullptr;
    }
  };
  auto* owner = new TComponent(nullptr);
  auto* a = new TWidget(owner);
  Watcher w(nullptr);
  w.watched = a;
  a->FreeNotification(&w);
  EXPECT_EQ(owner->ComponentCount(), 1);
  delete owner;  // frees a, which tells w
  EXPECT_EQ(w.watched, nullptr);
}

TEST(Graphics, ScalingRoundsLikeTheSystemAndFontSizeFollowsPixelsPerInch) {
  EXPECT_EQ(ScaleValue(553, 120, 96), 691);
  EXPECT_EQ(ScaleValue(-11, 120, 96), -14);
  EXPECT_EQ(ScaleValue(5, 3, 2), 8);
  TFont f;
  f.SetPixelsPerInch(96);
  f.SetHeight(-11);
  EXPECT_EQ(f.Size(), 8);
  TColor c;
  EXPECT_TRUE(IdentToColor("clBtnFace", c));
  EXPECT_EQ(c, clBtnFace);
  EXPECT_FALSE(IdentToColor("clNope", c));
}
