! List-directed input from an internal file of several records, and a
! slash ending the input with items left unchanged.
program list_read_internal_array
  implicit none
  character(len=10) :: recs(3)
  integer :: a(5)
  real :: r
  recs(1) = '1, 2'
  recs(2) = '3'
  recs(3) = '2.5 /'
  a = 0
  read (recs, *) a(1:3), r
  write (*, '(5i3, f6.2)') a, r
  a = -1
  recs(1) = '7 /'
  read (recs, *) a
  write (*, '(5i3)') a
end program list_read_internal_array
