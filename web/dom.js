// The page's elements, found by CSS selector.
export const $ = (selector) => document.querySelector(selector);
