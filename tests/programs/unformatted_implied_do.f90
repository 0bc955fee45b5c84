! Unformatted records sent in several item groups (implied DO), character
! arrays, and a record read with fewer items than it holds.
program unformatted_implied_do
  implicit none
  integer :: i, a(4), b(4)
  character(len=3) :: w(3) = ['one', 'two', 'six'], v(3)
  real :: x(2, 3), y(2, 3)
  integer :: j
  do j = 1, 3
    do i = 1, 2
      x(i, j) = i + 0.5 * j
    end do
  end do
  a = [4, 3, 2, 1]
  open (33, file='g.bin', form='unformatted', status='replace')
  write (33) (a(i), i = 1, 4), w
  write (33) ((x(i, j), j = 1, 3), i = 1, 2)
  write (33) 1, 2, 3
  rewind (33)
  read (33) (b(i), i = 4, 1, -1), v
  write (*, '(4i3, 3(1x, a))') b, v
  read (33) ((y(i, j), i = 1, 2), j = 1, 3)
  write (*, '(6f6.2)') y
  read (33) i
  write (*, '(i3)') i
  close (33)
end program unformatted_implied_do
